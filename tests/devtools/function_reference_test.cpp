#include "devtools/function_catalog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace tn::dev
{
namespace
{

// docs/functions.md lists every registered function once, with the count the
// machine accepts: a function added, removed or recounted without the
// reference fails here.
TEST(FunctionReference, ListsEveryRegisteredFunctionWithItsCount)
{
    const char* data = std::getenv("TN_TEST_DATA");
    ASSERT_NE(data, nullptr);
    std::ifstream reference(std::string(data) + "/../docs/functions.md");
    ASSERT_TRUE(reference.good());
    std::map<std::string, std::string> documented; // name -> arguments column
    for (std::string line; std::getline(reference, line);)
    {
        if (line.rfind("| `", 0) != 0) continue;
        const size_t nameEnd = line.find('`', 3);
        const size_t cell = line.find("| ", nameEnd);
        const size_t cellEnd = line.find(" |", cell + 2);
        ASSERT_NE(cellEnd, std::string::npos) << line;
        // "1-3 (text, start, count)": the count comes before the meaning.
        std::string arguments = line.substr(cell + 2, cellEnd - cell - 2);
        arguments = arguments.substr(0, arguments.find(" ("));
        const std::string name = line.substr(3, nameEnd - 3);
        EXPECT_TRUE(documented.emplace(name, arguments).second) << name << " is listed twice";
    }
    for (const CatalogEntry& entry : FunctionCatalog())
    {
        const auto found = documented.find(entry.name);
        if (found == documented.end())
        {
            ADD_FAILURE() << entry.name << " is registered but missing from docs/functions.md";
            continue;
        }
        EXPECT_EQ(found->second, entry.arguments) << entry.name;
        documented.erase(found);
    }
    for (const auto& [name, arguments] : documented)
        ADD_FAILURE() << name << " is in docs/functions.md but not registered";
}

} // namespace
} // namespace tn::dev
