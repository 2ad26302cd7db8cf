#include "hostlib/config_store.h"

#include "common/ascii.h"
#include "common/byte_buffer.h"
#include "common/file_replacement.h"
#include "common/quotes.h"

#include <algorithm>
#include <map>

namespace tn
{

namespace
{
constexpr const char* kInvalidContext = "Invalid context definition";
constexpr const char* kUnexpectedEnd = "Unexpected end of context found";
constexpr const char* kEmbeddedContext = "Embedded context definitions not allowed";
constexpr const char* kNoSettings = "No settings found in configuration file";

// The context open while parsing; an empty name means none is.
struct OpenContext
{
    std::string name;
    std::string value;
};

// A "<name value>" or "</name>" line: the error text, or null when the tag is
// well formed. Text after the ">" is ignored.
const char* readContextTag(std::string_view tag, OpenContext& open)
{
    const size_t close = tag.find('>');
    if (close == std::string_view::npos || close == 1) return kInvalidContext;
    if (tag[1] == '/')
    {
        if (open.name.empty() || !EqualsIgnoreCase(tag.substr(2, close - 2), open.name)) return kUnexpectedEnd;
        open = {};
        return nullptr;
    }
    if (!open.name.empty()) return kEmbeddedContext;
    // Split at the first blank as written: a tag that starts with a blank has
    // no name, and its settings stand outside any context.
    const std::string_view inner = tag.substr(1, close - 1);
    const size_t blank = inner.find(' ');
    open.name = AsciiLowerCopy(inner.substr(0, blank));
    open.value = blank == std::string_view::npos ? std::string_view() : TrimQuotes(TrimBlanks(inner.substr(blank)));
    return nullptr;
}

// A line break inside a field would change the file's structure when it is
// read back, so it is written as a blank.
void appendField(std::string& out, std::string_view text)
{
    const size_t start = out.size();
    out += text;
    std::replace_if(
        out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), [](char c) { return c == '\r' || c == '\n'; },
        ' ');
}

void appendSetting(std::string& out, const ConfigSetting& s, std::string_view indent)
{
    if (!s.comment.empty())
    {
        if (!out.empty()) out += "\r\n";
        out += s.comment;
        out += "\r\n";
    }
    out += indent;
    appendField(out, s.name);
    out += ' ';
    appendField(out, s.value);
    out += "\r\n";
}

bool isAt(const ConfigSetting& s, std::string_view context, std::string_view contextValue)
{
    return EqualsIgnoreCase(s.context, context) && EqualsIgnoreCase(s.contextValue, contextValue);
}

bool isAt(const ConfigSetting& s, const SettingAddress& at)
{
    return isAt(s, at.context, at.contextValue) && EqualsIgnoreCase(s.name, at.name);
}

std::string_view unquoted(std::string_view text)
{
    return IsDoubleQuoted(text) ? text.substr(1, text.size() - 2) : text;
}

bool hasKey(const ConfigSetting& s, std::string_view key)
{
    return EqualsIgnoreCase(SplitSettingValue(s.value).key, unquoted(key));
}
} // namespace

SplitValue SplitSettingValue(std::string_view value) noexcept
{
    bool quoted = false;
    size_t end = 0;
    for (; end < value.size(); ++end)
    {
        if (value[end] == '"')
            quoted = !quoted;
        else if (!quoted && (value[end] == ' ' || value[end] == '\t'))
            break;
    }
    return {unquoted(value.substr(0, end)), TrimBlanks(value.substr(end))};
}

// ---- The file ----------------------------------------------------------------

ereturnvalue ConfigStore::load(const std::string& path, std::string& message)
{
    settings_.clear();
    edited_ = false;
    if (path.empty())
    {
        message = "No configuration file was specified";
        return ereturnvalue::FileError;
    }
    message = path + ": ";
    ByteBuffer file;
    if (file.readFile(path, 0) != ereturnvalue::OK)
    {
        message += "Could not open configuration file";
        return ereturnvalue::FileError;
    }
    return parse(file.view(), message);
}

ereturnvalue ConfigStore::parse(std::string_view text, std::string& message)
{
    ereturnvalue result = ereturnvalue::OK;
    const char* error = nullptr; // the last error wins
    int64_t lines = 0;
    OpenContext open;
    std::string pendingComment;
    std::string line;
    for (size_t at = 0; at < text.size();)
    {
        const size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        line.assign(text.substr(at, end - at));
        at = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
        ++lines;

        std::replace(line.begin(), line.end(), '\t', ' ');
        const std::string_view content = TrimBlanks(line);
        if (content.empty()) continue;
        if (content.front() == '#')
        {
            if (!pendingComment.empty()) pendingComment += "\r\n";
            pendingComment += content;
        }
        else if (content.front() == '<')
        {
            if (const char* tagError = readContextTag(content, open))
            {
                result = ereturnvalue::ConfigError;
                error = tagError;
            }
        }
        else
        {
            const size_t blank = content.find(' ');
            const std::string_view value = blank == std::string_view::npos ? "" : TrimBlanks(content.substr(blank));
            settings_.push_back({open.name, open.value, std::string(content.substr(0, blank)), std::string(value),
                                 std::move(pendingComment)});
            pendingComment.clear();
        }
    }
    if (result == ereturnvalue::OK && settings_.empty())
    {
        result = ereturnvalue::Empty;
        error = kNoSettings;
    }
    if (result != ereturnvalue::OK) message += "line: " + std::to_string(lines) + " - " + error;
    return result;
}

ereturnvalue ConfigStore::serialize(std::string& out) const
{
    out.clear();
    // Contexts in ascending order, each once, whatever their order in the list.
    std::map<std::pair<std::string, std::string>, std::vector<const ConfigSetting*>> contexts;
    for (const ConfigSetting& s : settings_)
    {
        if (s.context.empty())
            appendSetting(out, s, "");
        else
            contexts[{AsciiLowerCopy(s.context), AsciiLowerCopy(s.contextValue)}].push_back(&s);
    }
    for (const auto& [pair, members] : contexts)
    {
        const ConfigSetting& first = *members.front();
        if (!out.empty()) out += "\r\n";
        out += '<';
        appendField(out, first.context);
        out += ' ';
        appendField(out, first.contextValue);
        out += ">\r\n";
        for (const ConfigSetting* s : members)
            appendSetting(out, *s, "\t");
        out += "</";
        appendField(out, first.context);
        out += ">\r\n";
    }
    return ereturnvalue::OK;
}

ereturnvalue ConfigStore::save(const std::string& path, std::string& message)
{
    std::string bytes;
    serialize(bytes);
    if (WriteFileWhole(path, bytes) != ereturnvalue::OK)
    {
        message += "Could not write configuration file";
        return ereturnvalue::FileError;
    }
    edited_ = false;
    return ereturnvalue::OK;
}

// ---- Settings ----------------------------------------------------------------

std::vector<const ConfigSetting*> ConfigStore::matches(const SettingAddress& at) const
{
    std::vector<const ConfigSetting*> found;
    for (const ConfigSetting& s : settings_)
        if (isAt(s, at)) found.push_back(&s);
    return found;
}

const ConfigSetting* ConfigStore::findByKey(const SettingAddress& at, std::string_view key) const
{
    for (const ConfigSetting& s : settings_)
        if (isAt(s, at) && hasKey(s, key)) return &s;
    return nullptr;
}

std::vector<std::string> ConfigStore::contextValues(std::string_view context) const
{
    std::map<std::string, std::string_view> distinct; // lower case -> first spelling
    for (const ConfigSetting& s : settings_)
        if (EqualsIgnoreCase(s.context, context)) distinct.emplace(AsciiLowerCopy(s.contextValue), s.contextValue);
    std::vector<std::string> values;
    for (const auto& [lower, spelling] : distinct)
        values.emplace_back(spelling);
    return values;
}

ereturnvalue ConfigStore::append(const SettingAddress& at, std::string_view value)
{
    settings_.push_back({AsciiLowerCopy(at.context), std::string(at.contextValue), std::string(at.name),
                         std::string(value), std::string()});
    edited_ = true;
    return ereturnvalue::OK;
}

ereturnvalue ConfigStore::assign(const SettingAddress& at, std::string_view value)
{
    bool found = false;
    for (ConfigSetting& s : settings_)
    {
        if (!isAt(s, at)) continue;
        s.value = value;
        found = true;
    }
    if (!found) return append(at, value);
    edited_ = true;
    return ereturnvalue::OK;
}

ereturnvalue ConfigStore::assignByKey(const SettingAddress& at, std::string_view key, std::string_view rest)
{
    // Quotes keep a key that holds a blank one field when read back.
    std::string value = NeedsQuotes(key) ? "\"" + std::string(key) + "\"" : std::string(key);
    value.append(" ").append(rest);
    if (const ConfigSetting* existing = findByKey(at, key))
    {
        settings_[static_cast<size_t>(existing - settings_.data())].value = std::move(value);
        edited_ = true;
        return ereturnvalue::OK;
    }
    return append(at, value);
}

ereturnvalue ConfigStore::erase(const SettingAddress& at, const std::string_view* onlyValue)
{
    const size_t before = settings_.size();
    std::erase_if(settings_, [&](const ConfigSetting& s)
                  { return isAt(s, at) && (!onlyValue || EqualsIgnoreCase(s.value, *onlyValue)); });
    if (settings_.size() == before) return ereturnvalue::NotFound;
    edited_ = true;
    return ereturnvalue::OK;
}

ereturnvalue ConfigStore::eraseByKey(const SettingAddress& at, std::string_view key)
{
    const ConfigSetting* found = findByKey(at, key);
    if (!found) return ereturnvalue::NotFound;
    settings_.erase(settings_.begin() + (found - settings_.data()));
    edited_ = true;
    return ereturnvalue::OK;
}

// ---- Contexts ----------------------------------------------------------------

bool ConfigStore::hasContext(std::string_view context, std::string_view contextValue) const
{
    return std::any_of(settings_.begin(), settings_.end(),
                       [&](const ConfigSetting& s) { return isAt(s, context, contextValue); });
}

ereturnvalue ConfigStore::addContext(std::string_view context, std::string_view contextValue)
{
    if (hasContext(context, contextValue)) return ereturnvalue::Ignore;
    // A context exists only through its settings, so a new one holds one.
    return assign({context, contextValue, "Default"}, "0");
}

ereturnvalue ConfigStore::deleteContext(std::string_view context, std::string_view contextValue)
{
    const size_t before = settings_.size();
    std::erase_if(settings_, [&](const ConfigSetting& s) { return isAt(s, context, contextValue); });
    if (settings_.size() == before) return ereturnvalue::NotFound;
    edited_ = true;
    return ereturnvalue::OK;
}

ereturnvalue ConfigStore::renameContext(std::string_view context, std::string_view contextValue,
                                        std::string_view newValue)
{
    bool found = false;
    for (ConfigSetting& s : settings_)
    {
        if (!isAt(s, context, contextValue)) continue;
        s.contextValue = newValue;
        found = true;
    }
    if (!found) return ereturnvalue::NotFound;
    edited_ = true;
    return ereturnvalue::OK;
}

ereturnvalue ConfigStore::copyContext(std::string_view context, std::string_view contextValue,
                                      std::string_view newValue)
{
    if (hasContext(context, newValue)) return ereturnvalue::Ignore;
    std::vector<ConfigSetting> copies;
    for (const ConfigSetting& s : settings_)
    {
        if (!isAt(s, context, contextValue)) continue;
        copies.push_back(s);
        copies.back().contextValue = newValue;
    }
    if (copies.empty()) return ereturnvalue::NotFound;
    settings_.insert(settings_.end(), std::make_move_iterator(copies.begin()), std::make_move_iterator(copies.end()));
    edited_ = true;
    return ereturnvalue::OK;
}

} // namespace tn
