#pragma once
// The store of defined systems (models): one record per model, found by name.

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace corvel {

struct SystemRecord {
    std::string name;
    int type = 0;
    // Which cached analyses are current.
    bool s_vbound = false;
    bool s_tbound = false;
    bool s_sbound = false;
    bool s_ibound = false;
    double s_time = 0.0;
    bool s_reward = false;
};

class SystemStore {
public:
    // Index of the system or -1.
    int find(std::string_view name) const;
    // Creates a record; -1 when the name is already used.
    int create(std::string_view name, int type);
    SystemRecord& operator[](int i) { return systems_[static_cast<size_t>(i)]; }
    int size() const { return static_cast<int>(systems_.size()); }

    // Marks every analysis of every system stale.
    void invalidate_all();
    // Marks the time-dependent, symbolic and irreducible results stale.
    void invalidate_results();

private:
    std::deque<SystemRecord> systems_;
    std::unordered_map<std::string, int> index_;
};

}  // namespace corvel
