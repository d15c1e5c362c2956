// A JSON array written to standard output item by item, so that memory does
// not grow with the number of items; the layout is that of the whole array
// dumped with an indent of 2.
#pragma once

#include <string>

class JsonArrayOut
{
public:
    JsonArrayOut() = default;
    JsonArrayOut(const JsonArrayOut &) = delete;
    JsonArrayOut &operator=(const JsonArrayOut &) = delete;
    // Closes the array.
    ~JsonArrayOut();

    // One item, already dumped with an indent of 2.
    void Add(const std::string &dumped);

private:
    bool m_First = true;
};
