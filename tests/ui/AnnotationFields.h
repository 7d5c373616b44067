#pragma once

#include "Config/AnnotationTypes.h"

#include <memory>
#include <vector>

// Two small annotation configurations: an account number (free text, field 7, at most 8
// characters) and an outcome (buttons, field 9); and one with a different caption for 7.
inline std::vector<FieldDetails> SalesFields()
{
    std::vector<FieldDetails> fields;
    fields.emplace_back(7, "Account", std::make_unique<FreeTextEntry>(8));
    fields.emplace_back(9, "Outcome",
                        std::make_unique<PushButton>(std::vector<PushButtonData>{{"Yes", "Sale"}, {"No", "No sale"}}));
    return fields;
}

inline std::vector<FieldDetails> CustomerFields()
{
    std::vector<FieldDetails> fields;
    fields.emplace_back(7, "Customer", std::make_unique<FreeTextEntry>(8));
    return fields;
}
