#include "model/project_data.h"

#include <algorithm>
#include <cstdio>

namespace kestio {

namespace {

std::string slotNumberName(std::int64_t number) {
    char text[24];
    std::snprintf(text, sizeof text, "%03lld", static_cast<long long>(number));
    return text;
}

}  // namespace

ProjectData::ProjectData(int rowCount, int columnCount) : rows(rowCount), columns(columnCount) {
    const std::int64_t perBank =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(rowCount) * columnCount);
    banks.reserve(kBankCount);
    for (int b = 0; b < kBankCount; ++b) {
        BankData bank;
        bank.name = "BANK " + std::to_string(b + 1);
        bank.slots.resize(static_cast<std::size_t>(perBank));
        for (std::int64_t s = 0; s < perBank; ++s) {
            bank.slots[static_cast<std::size_t>(s)].name = slotNumberName(b * perBank + s + 1);
        }
        banks.push_back(std::move(bank));
    }
}

}  // namespace kestio
