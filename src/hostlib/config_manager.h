// The configuration of the process: the one store that scripts open, read,
// change and save. Every script shares it, so every operation holds the lock.
#pragma once

#include "hostlib/config_store.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tn
{

class ConfigManager
{
  public:
    static ConfigManager& instance();

    // The file that open() loads and save() writes. The command-line host
    // never sets one, so opening fails there; a host that embeds the machine
    // sets it before its scripts run.
    void setPath(std::string path);

    // Loads the store on the first open; later opens only count.
    ereturnvalue open();
    // Counts an open down (Closed with no store); the store stays in memory.
    ereturnvalue close();
    // Drops the store and opens it afresh.
    ereturnvalue reload();
    ereturnvalue save();
    bool isEdited();
    // OK while the store is open at least once; nothing else to do in this host.
    ereturnvalue serverReload();
    // Why the last open or save failed.
    std::string lastMessage();

    // Runs [work] on the store (null when none is loaded) under the lock.
    template <class Work> decltype(auto) withStore(Work&& work)
    {
        std::lock_guard lock(mutex_);
        return work(store_.get());
    }

  private:
    ConfigManager() = default;
    ereturnvalue openLocked();

    std::mutex mutex_;
    std::unique_ptr<ConfigStore> store_;
    std::string path_;
    std::string message_;
    int32_t openCount_ = 0;
};

} // namespace tn
