// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/CodeSets.h"

namespace bridge {
namespace {

// The named codes must say in every table what the rows say.
constexpr bool NamedCodesAgree(const CodeSet& set) {
    for (const auto& row : {set.letters, set.figures}) {
        if (row[kBlank] != kNone || row[kLineFeed] != '\n' || row[kSpace] != ' ' ||
            row[kCarriageReturn] != '\r' || row[kFigures] != kNone || row[kLetters] != kNone)
            return false;
    }
    return true;
}
static_assert(NamedCodesAgree(kIta2) && NamedCodesAgree(kUstty));

}  // namespace

const CodeSet* FindCodeSet(std::string_view name) {
    for (const CodeSet* set : kCodeSets) {
        if (set->name == name)
            return set;
    }
    return nullptr;
}

}  // namespace bridge
