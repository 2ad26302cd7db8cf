// Form data of query strings and request bodies: name=value pairs joined by "&".
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tn
{

// Calls [store] for each pair in order, with name and value URL-decoded. Empty
// pieces and pieces whose decoded name is empty are skipped; a piece without
// "=" is a name with an empty value.
void ParseFormData(std::string_view data, const std::function<void(std::string name, std::string value)>& store);

} // namespace tn
