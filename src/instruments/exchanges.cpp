#include "instruments/exchanges.h"

#include <cstring>
#include <iterator>

#include "instruments/ophir.h"

namespace {

constexpr InstrumentExchange kExchanges[] = {
    // code                   keyword              start  hour   header run
    {INIT_NONE, "NONE", true, true, false, nullptr},
    {INIT_GETOPHIRCONSTANTS, "GETOPHIRCONSTANTS", true, true, true, GetOphirConstants},
    {INIT_LOWRANCEGPSSETUP, "LOWRANCEGPSSETUP", true, false, false, nullptr},
};

}  // namespace

const InstrumentExchange* FindExchange(int32_t code) {
    for (const InstrumentExchange& exchange : kExchanges) {
        if (exchange.code == code) {
            return &exchange;
        }
    }
    return nullptr;
}

const InstrumentExchange* FindExchangeByKeyword(const char* keyword) {
    for (const InstrumentExchange& exchange : kExchanges) {
        if (std::strcmp(exchange.keyword, keyword) == 0) {
            return &exchange;
        }
    }
    return nullptr;
}

bool RunsOnTheHour(int32_t acquisition_code) {
    const InstrumentExchange* exchange = FindExchange(acquisition_code);
    return exchange != nullptr && exchange->on_the_hour && exchange->run != nullptr;
}

bool WritesFileHeader(int32_t acquisition_code) {
    const InstrumentExchange* exchange = FindExchange(acquisition_code);
    return exchange != nullptr && exchange->writes_header;
}
