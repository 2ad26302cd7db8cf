// The date parsers, arithmetic and text forms, in a zone with daylight
// saving time. A date a parser accepts (not blank) reads back from its own form.
#include "vm/date_value.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <ctime>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    FuzzedDataProvider input(data, size);
    const tn::DateDisplaySettings settings{input.ConsumeIntegralInRange<int32_t>(-1, 7), input.ConsumeBool()};
    const int32_t step = input.ConsumeIntegral<int32_t>();
    const std::string text = input.ConsumeRemainingBytesAsString();

    DateValue http;
    if (http.parseHttp(text) == ereturnvalue::OK && !http.isBlank())
    {
        DateValue again;
        if (again.parseHttp(http.httpForm()) != ereturnvalue::OK || !(again == http)) std::abort();
    }
    DateValue compact;
    if (compact.parseCompact(text) == ereturnvalue::OK && !compact.isBlank())
    {
        DateValue again;
        if (again.parseCompact(compact.compactForm()) != ereturnvalue::OK || !(again == compact)) std::abort();
    }
    DateValue local;
    local.parseLocale(text, settings);
    for (DateValue* date : {&http, &compact, &local})
    {
        date->displayForm(settings);
        date->logForm();
        date->toLocal();
        date->addHours(step);
        date->addDays(step);
        date->addMonths(step);
        date->toGmt();
        date->differenceMs(http);
        date->httpForm();
    }
    return 0;
}
