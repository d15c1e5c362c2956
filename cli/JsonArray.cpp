#include "JsonArray.h"

#include <cstdio>

JsonArrayOut::~JsonArrayOut()
{
    std::fputs(m_First ? "[]\n" : "\n]\n", stdout);
}

void JsonArrayOut::Add(const std::string &dumped)
{
    std::string text = m_First ? "[\n  " : ",\n  ";
    for (char c : dumped) {
        text.push_back(c);
        if (c == '\n')
            text += "  ";
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    m_First = false;
}
