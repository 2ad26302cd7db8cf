// URI references: splitting one into its five parts and resolving a relative
// reference against a base, as RFC 3986 describes (sections 3, 5.2 and 5.3).
// Used for redirect locations and for script paths named relative to the
// request's path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tn
{

struct UrlReference
{
    std::optional<std::string> scheme;    // without the ":"
    std::optional<std::string> authority; // without the leading "//"
    std::string path;
    std::optional<std::string> query;    // without the "?"
    std::optional<std::string> fragment; // without the "#"

    // Every text splits: the parts are found by their delimiters alone, so
    // nothing is refused and nothing is decoded.
    static UrlReference Parse(std::string_view text);

    // A reference with a scheme stands on its own; resolving it only tidies
    // its path.
    bool isAbsolute() const noexcept { return scheme.has_value(); }

    // The parts put back together; Parse(t).text() == t for every t.
    std::string text() const;
};

// [reference] resolved against [base]. The base need not be absolute: a
// request path such as "/site/page.htm" serves as a base for "other.htm".
UrlReference ResolveReference(const UrlReference& base, const UrlReference& reference);
std::string ResolveUrl(std::string_view base, std::string_view reference);

// [path] with its "." and ".." segments applied.
std::string RemoveDotSegments(std::string_view path);

} // namespace tn
