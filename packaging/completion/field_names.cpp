// Writes the field names tk770ctl's get and set accept into its bash
// completion, so the completion is made from the same table as the parser.
//
//     field_names TEMPLATE OUTPUT
//
// replaces @FIELD_NAMES@ (every field) and @SETTABLE_FIELDS@ (those set may
// change: read-only fields and fields no control sends are refused there).
#include "core/field_table.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

void replace(std::string& text, const std::string& marker, const std::string& value)
{
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + value.size()))
        text.replace(at, marker.size(), value);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: field_names TEMPLATE OUTPUT\n";
        return 2;
    }
    std::string all, settable;
    tk770::for_each_field_element([&](const tk770::FieldRef& ref) {
        const std::string name = ref.name();
        all += (all.empty() ? "" : " ") + name;
        if (ref.field->send == tk770::FieldSend::unit || ref.field->send == tk770::FieldSend::text_row)
            settable += (settable.empty() ? "" : " ") + name;
    });
    std::ifstream in(argv[1]);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::cerr << "field_names: cannot read " << argv[1] << '\n';
        return 1;
    }
    std::string script = text.str();
    replace(script, "@FIELD_NAMES@", all);
    replace(script, "@SETTABLE_FIELDS@", settable);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << script;
    out.close();
    if (!out) {
        std::cerr << "field_names: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
