#pragma once
// The library's result codes in one table: what each means, which functions
// give it, and the line the station shows the operator under its own
// message (GetResultText). velk430/README.md's table is made from it
// (velk430-sim codes), and a test keeps the two the same.

#include <cstdint>
#include <span>
#include <string>

namespace velk {

struct CCodeRow {
    int32_t Code;
    const char* Meaning;      // for the developer: exactly when the library gives it
    const char* ReturnedBy;
    const char* ForOperator;  // what it means and what to do; null for the two successes
};

std::span<const CCodeRow> CodeTable();
// The row of a code, or null when the library never gives it.
const CCodeRow* FindCode(int32_t code);
// The table as README.md shows it (Markdown, one row a line).
std::string CodeTableMarkdown();

}  // namespace velk
