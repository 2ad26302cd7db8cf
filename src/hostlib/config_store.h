// The configuration file in memory: settings (a name and a value) outside any
// context or grouped into contexts (a name and a value of their own), each
// with the comment lines that stood before it. Names, contexts and keys are
// matched without regard to letter case.
//
//     # comment kept with the setting below
//     timeout 30
//     <web "main site">
//         port 80
//     </web>
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

struct ConfigSetting
{
    std::string context; // lower case; empty outside any context
    std::string contextValue;
    std::string name;
    std::string value;
    std::string comment; // the comment lines before the setting, joined with "\r\n"
};

// Where a setting lives: context, context value and name.
struct SettingAddress
{
    std::string_view context;
    std::string_view contextValue;
    std::string_view name;
};

// A value read as a key and the rest: the key is the first field (up to a
// blank outside double quotes) without its enclosing quotes, the rest is what
// follows, trimmed.
struct SplitValue
{
    std::string_view key;
    std::string_view rest;
};
SplitValue SplitSettingValue(std::string_view value) noexcept;

class ConfigStore
{
  public:
    // Reading and writing the file. [message] tells what went wrong: load
    // sets it, parse and save append to it.
    ereturnvalue load(const std::string& path, std::string& message);
    ereturnvalue parse(std::string_view text, std::string& message);
    ereturnvalue serialize(std::string& out) const;
    ereturnvalue save(const std::string& path, std::string& message);

    const std::vector<ConfigSetting>& settings() const noexcept { return settings_; }
    bool edited() const noexcept { return edited_; }

    // Reads. Matching settings are taken in list order.
    std::vector<const ConfigSetting*> matches(const SettingAddress& at) const;
    const ConfigSetting* findByKey(const SettingAddress& at, std::string_view key) const;
    // The distinct context values of [context], in ascending order.
    std::vector<std::string> contextValues(std::string_view context) const;

    // Changes; each marks the store edited when it changes the list. The
    // first three always succeed.
    ereturnvalue append(const SettingAddress& at, std::string_view value);
    // Every match gets [value]; with none, a new setting is appended.
    ereturnvalue assign(const SettingAddress& at, std::string_view value);
    // The first match whose key is [key] gets "key rest"; with none, a new
    // setting is appended.
    ereturnvalue assignByKey(const SettingAddress& at, std::string_view key, std::string_view rest);
    // Every match, or with [onlyValue] the matches holding that value. NotFound when none.
    ereturnvalue erase(const SettingAddress& at, const std::string_view* onlyValue = nullptr);
    ereturnvalue eraseByKey(const SettingAddress& at, std::string_view key);

    // Contexts. Ignore when the context to create exists already, NotFound
    // when the one to work on does not.
    ereturnvalue addContext(std::string_view context, std::string_view contextValue);
    ereturnvalue deleteContext(std::string_view context, std::string_view contextValue);
    ereturnvalue renameContext(std::string_view context, std::string_view contextValue, std::string_view newValue);
    ereturnvalue copyContext(std::string_view context, std::string_view contextValue, std::string_view newValue);

  private:
    bool hasContext(std::string_view context, std::string_view contextValue) const;

    std::vector<ConfigSetting> settings_;
    bool edited_ = false;
};

} // namespace tn
