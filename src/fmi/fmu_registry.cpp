#include "fmu_registry.h"

#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>

namespace guidew_fmu {
namespace {

std::mutex& registry_mutex() {
    static std::mutex m;
    return m;
}

std::unordered_set<Slave*>& registry() {
    static std::unordered_set<Slave*> live;
    return live;
}

}  // namespace

Slave* create_registered_slave(FmiVersion version, const std::string& name, LogSink sink,
                               bool logging_on) {
    std::unique_ptr<Slave> s(new (std::nothrow) Slave(version, name, std::move(sink), logging_on));
    if (s == nullptr || !s->created()) return nullptr;
    try {
        std::lock_guard<std::mutex> lock(registry_mutex());
        registry().insert(s.get());
    } catch (...) {
        return nullptr;
    }
    return s.release();
}

void free_registered_slave(void* instance) {
    Slave* s = static_cast<Slave*>(instance);
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        if (registry().erase(s) == 0) return;
    }
    delete s;
}

Slave* live_slave(void* instance) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    Slave* s = static_cast<Slave*>(instance);
    return registry().count(s) != 0 ? s : nullptr;
}

}  // namespace guidew_fmu
