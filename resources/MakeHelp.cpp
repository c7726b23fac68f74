// Writes the help page F1 opens from its text, filling in what must match
// this build: the version, the baud rates the programmer takes and, from the
// library's own code table, what each result code shown to the operator
// means and what to do. So none of them can drift from the program.
//   corv_make_help PAGE OUTPUT VERSION
#include "CodeTable.h"
#include "velk430.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string BaudRates()
{
    const int32_t rates[] = VELK_BAUD_RATES;
    std::string list;
    for (size_t i = 0; i < std::size(rates); ++i)
        list += (i == 0 ? "" : i + 1 == std::size(rates) ? " or " : ", ") + std::to_string(rates[i]);
    return list;
}

// One table row per code the operator can see under a message.
std::string CodeRows()
{
    std::string rows;
    for (const velk::CCodeRow& row : velk::CodeTable())
        if (row.ForOperator)
            rows += "<tr><td align=\"right\">" + std::to_string(row.Code) + "</td><td>" +
                    Escaped(row.ForOperator) + "</td></tr>\n";
    return rows;
}

bool Replace(std::string& page, const std::string& mark, const std::string& with)
{
    bool found = false;
    for (size_t at = page.find(mark); at != std::string::npos; at = page.find(mark, at + with.size())) {
        page.replace(at, mark.size(), with);
        found = true;
    }
    return found;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: corv_make_help PAGE OUTPUT VERSION\n", stderr);
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "corv_make_help: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string page = text.str();
    for (const auto& [mark, with] : {std::pair<std::string, std::string>{"@VERSION@", argv[3]},
                                     {"@BAUD_RATES@", BaudRates()},
                                     {"@CODE_ROWS@", CodeRows()}})
        if (!Replace(page, mark, with)) {
            std::fprintf(stderr, "corv_make_help: %s has no %s\n", argv[1], mark.c_str());
            return 1;
        }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
        std::fprintf(stderr, "corv_make_help: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
