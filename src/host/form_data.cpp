#include "host/form_data.h"

#include "common/url_codec.h"

namespace tn
{

void ParseFormData(std::string_view data, const std::function<void(std::string name, std::string value)>& store)
{
    size_t start = 0;
    while (start <= data.size())
    {
        size_t end = data.find('&', start);
        if (end == std::string_view::npos)
        {
            end = data.size();
        }
        const std::string_view piece = data.substr(start, end - start);
        start = end + 1;
        if (piece.empty())
        {
            continue;
        }
        const size_t equals = piece.find('=');
        std::string name = UrlDecode(piece.substr(0, equals));
        if (name.empty())
        {
            continue;
        }
        std::string value = equals == std::string_view::npos ? std::string() : UrlDecode(piece.substr(equals + 1));
        store(std::move(name), std::move(value));
    }
}

} // namespace tn
