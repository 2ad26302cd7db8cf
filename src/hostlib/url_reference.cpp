#include "hostlib/url_reference.h"

namespace tn
{

namespace
{

constexpr bool isAlpha(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool isSchemeChar(char c) noexcept
{
    return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Length of the scheme that [text] starts with, 0 when it has none.
size_t schemeLength(std::string_view text) noexcept
{
    if (text.empty() || !isAlpha(text[0])) return 0;
    for (size_t i = 1; i < text.size(); ++i)
    {
        if (text[i] == ':') return i;
        if (!isSchemeChar(text[i])) return 0;
    }
    return 0;
}

// The directory part of [base]'s path joined with [path].
std::string mergePaths(const UrlReference& base, std::string_view path)
{
    if (base.authority && base.path.empty()) return std::string(1, '/').append(path);
    const size_t slash = base.path.rfind('/');
    if (slash == std::string::npos) return std::string(path);
    return base.path.substr(0, slash + 1) + std::string(path);
}

} // namespace

UrlReference UrlReference::Parse(std::string_view text)
{
    UrlReference ref;
    if (const size_t hash = text.find('#'); hash != std::string_view::npos)
    {
        ref.fragment = std::string(text.substr(hash + 1));
        text = text.substr(0, hash);
    }
    if (const size_t mark = text.find('?'); mark != std::string_view::npos)
    {
        ref.query = std::string(text.substr(mark + 1));
        text = text.substr(0, mark);
    }
    if (const size_t length = schemeLength(text); length > 0)
    {
        ref.scheme = std::string(text.substr(0, length));
        text.remove_prefix(length + 1);
    }
    if (text.starts_with("//"))
    {
        text.remove_prefix(2);
        const size_t end = text.find('/');
        ref.authority = std::string(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    ref.path = text;
    return ref;
}

std::string UrlReference::text() const
{
    std::string out;
    if (scheme) out += *scheme + ":";
    if (authority) out += "//" + *authority;
    out += path;
    if (query) out += "?" + *query;
    if (fragment) out += "#" + *fragment;
    return out;
}

std::string RemoveDotSegments(std::string_view path)
{
    std::string out;
    while (!path.empty())
    {
        if (path.starts_with("../"))
            path.remove_prefix(3);
        else if (path.starts_with("./"))
            path.remove_prefix(2);
        else if (path.starts_with("/./"))
            path.remove_prefix(2);
        else if (path == "/.")
            path = "/";
        else if (path.starts_with("/../") || path == "/..")
        {
            path = path.size() == 3 ? std::string_view("/") : path.substr(3);
            const size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        }
        else if (path == "." || path == "..")
            path = {};
        else
        {
            // The first segment, with its leading "/", moves to the output.
            const size_t end = path.find('/', 1);
            const size_t length = end == std::string_view::npos ? path.size() : end;
            out.append(path.substr(0, length));
            path.remove_prefix(length);
        }
    }
    return out;
}

UrlReference ResolveReference(const UrlReference& base, const UrlReference& reference)
{
    UrlReference target;
    target.fragment = reference.fragment;
    if (reference.scheme)
    {
        target = reference;
        target.path = RemoveDotSegments(reference.path);
        return target;
    }
    target.scheme = base.scheme;
    if (reference.authority)
    {
        target.authority = reference.authority;
        target.path = RemoveDotSegments(reference.path);
        target.query = reference.query;
        return target;
    }
    target.authority = base.authority;
    if (reference.path.empty())
    {
        target.path = base.path;
        target.query = reference.query ? reference.query : base.query;
        return target;
    }
    target.path =
        RemoveDotSegments(reference.path.starts_with('/') ? reference.path : mergePaths(base, reference.path));
    target.query = reference.query;
    return target;
}

std::string ResolveUrl(std::string_view base, std::string_view reference)
{
    return ResolveReference(UrlReference::Parse(base), UrlReference::Parse(reference)).text();
}

} // namespace tn
