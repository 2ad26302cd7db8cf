#include "hostlib/config_manager.h"

namespace tn
{

ConfigManager& ConfigManager::instance()
{
    static ConfigManager manager;
    return manager;
}

void ConfigManager::setPath(std::string path)
{
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
}

ereturnvalue ConfigManager::openLocked()
{
    if (store_)
    {
        ++openCount_;
        return ereturnvalue::OK;
    }
    store_ = std::make_unique<ConfigStore>();
    const ereturnvalue result = store_->load(path_, message_);
    if (result == ereturnvalue::OK)
        message_.clear();
    else
        store_.reset();
    openCount_ = store_ ? 1 : 0;
    return result;
}

ereturnvalue ConfigManager::open()
{
    std::lock_guard lock(mutex_);
    return openLocked();
}

ereturnvalue ConfigManager::close()
{
    std::lock_guard lock(mutex_);
    if (!store_) return ereturnvalue::Closed;
    if (openCount_ > 0) --openCount_;
    return ereturnvalue::OK;
}

ereturnvalue ConfigManager::reload()
{
    std::lock_guard lock(mutex_);
    store_.reset();
    openCount_ = 0;
    return openLocked();
}

ereturnvalue ConfigManager::save()
{
    std::lock_guard lock(mutex_);
    if (!store_) return ereturnvalue::Programing;
    message_.clear();
    return store_->save(path_, message_);
}

bool ConfigManager::isEdited()
{
    std::lock_guard lock(mutex_);
    return store_ && store_->edited();
}

ereturnvalue ConfigManager::serverReload()
{
    std::lock_guard lock(mutex_);
    return store_ && openCount_ >= 1 ? ereturnvalue::OK : ereturnvalue::Error;
}

std::string ConfigManager::lastMessage()
{
    std::lock_guard lock(mutex_);
    return message_;
}

} // namespace tn
