#include "hostlib/url_reference.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

std::string parts(const UrlReference& r)
{
    auto part = [](const std::optional<std::string>& p) { return p ? "[" + *p + "]" : std::string("-"); };
    return part(r.scheme) + part(r.authority) + "[" + r.path + "]" + part(r.query) + part(r.fragment);
}

TEST(UrlReference, SplitsAtTheDelimitersAndPutsBackTheSameText)
{
    const struct
    {
        const char* text;
        const char* parts;
    } rows[] = {
        {"http://a.b:8080/p/q?x=1#f", "[http][a.b:8080][/p/q][x=1][f]"},
        {"page.htm", "--[page.htm]--"},
        {"//host", "-[host][]--"},
        {"mailto:x@y", "[mailto]-[x@y]--"},
        {"?", "--[][]-"},
        {"#", "--[]-[]"},
        {"", "--[]--"},
        // A colon after a character a scheme cannot hold is part of the path.
        {"a/b:c", "--[a/b:c]--"},
        {"1x:y", "--[1x:y]--"},
        {"x?a#b?c", "--[x][a][b?c]"},
    };
    for (const auto& row : rows)
    {
        const UrlReference r = UrlReference::Parse(row.text);
        EXPECT_EQ(parts(r), row.parts) << row.text;
        EXPECT_EQ(r.text(), row.text);
    }
}

// The normal and abnormal examples of RFC 3986, 5.4, plus bases that have no
// scheme or authority, as a request path is.
TEST(UrlReference, ResolvesAgainstABase)
{
    const struct
    {
        const char* base;
        const char* reference;
        const char* target;
    } rows[] = {
        {"http://a/b/c/d;p?q", "g:h", "g:h"},
        {"http://a/b/c/d;p?q", "g", "http://a/b/c/g"},
        {"http://a/b/c/d;p?q", "./g", "http://a/b/c/g"},
        {"http://a/b/c/d;p?q", "g/", "http://a/b/c/g/"},
        {"http://a/b/c/d;p?q", "/g", "http://a/g"},
        {"http://a/b/c/d;p?q", "//g", "http://g"},
        {"http://a/b/c/d;p?q", "?y", "http://a/b/c/d;p?y"},
        {"http://a/b/c/d;p?q", "g?y", "http://a/b/c/g?y"},
        {"http://a/b/c/d;p?q", "#s", "http://a/b/c/d;p?q#s"},
        {"http://a/b/c/d;p?q", "g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"http://a/b/c/d;p?q", "", "http://a/b/c/d;p?q"},
        {"http://a/b/c/d;p?q", ".", "http://a/b/c/"},
        {"http://a/b/c/d;p?q", "..", "http://a/b/"},
        {"http://a/b/c/d;p?q", "../g", "http://a/b/g"},
        {"http://a/b/c/d;p?q", "../../../g", "http://a/g"},
        {"http://a/b/c/d;p?q", "/./g", "http://a/g"},
        {"http://a/b/c/d;p?q", "g.", "http://a/b/c/g."},
        {"http://a/b/c/d;p?q", "..g", "http://a/b/c/..g"},
        {"http://a/b/c/d;p?q", "./g/.", "http://a/b/c/g/"},
        {"http://a/b/c/d;p?q", "g/../h", "http://a/b/c/h"},
        {"http://a/b/c/d;p?q", "g;x=1/../y", "http://a/b/c/y"},
        {"http://a/b/c/d;p?q", "g#s/../x", "http://a/b/c/g#s/../x"},
        {"http://a/b/c/d;p?q", "http:g", "http:g"},
        {"http://a", "g", "http://a/g"},
        {"/site/dir/page.htm", "other.htm", "/site/dir/other.htm"},
        {"/site/dir/page.htm", "../x/y.htm", "/site/x/y.htm"},
        {"page.htm", "other.htm", "other.htm"},
        {"", "a/./b/../c", "a/c"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ResolveUrl(row.base, row.reference), row.target) << row.base << " + " << row.reference;
}

} // namespace
} // namespace tn
