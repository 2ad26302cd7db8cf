// The splitter hands out the code of a block as a view into the page text,
// so that a big page is not copied before it is compiled.
#include "host/page_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tn
{
namespace
{

TEST(SplitPageViews, CodeStaysInThePageText)
{
    const std::string page = "head<?tnl echo(1); ?>middle<?TNL $a = 2;";
    std::vector<std::string> literals;
    std::vector<CodeBlockText> blocks;
    ASSERT_EQ(SplitPage(page, literals, blocks), 2u);
    EXPECT_EQ(blocks[0].code, " echo(1); ");
    EXPECT_EQ(blocks[0].code.data(), page.data() + 9);
    EXPECT_EQ(blocks[1].code, " $a = 2;");
    EXPECT_EQ(blocks[1].code.data(), page.data() + 32);
    // Literals are copies: they outlive the text.
    EXPECT_EQ(literals, (std::vector<std::string>{"head", "middle", ""}));
}

} // namespace
} // namespace tn
