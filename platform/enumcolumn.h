#pragma once

#include <cstddef>

// Tables the compiler checks. An enum that ends in Count (how many values come before it:
// no value of its own) sizes what is kept per value; a column that names the values, such as
// a table's first, holds every value once, each at its own place (0, 1, 2...), or the build
// fails: a row left out, added or out of place does not compile.
template <typename Enum>
inline constexpr std::size_t countOf = std::size_t(Enum::Count);

template <typename Enum, std::size_t N, typename Row, typename Column>
consteval bool isEveryValueInPlace(const Row (&rows)[N], Column column)
{
    if (N != countOf<Enum>)
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (std::size_t(column(rows[i])) != i)
            return false;
    }
    return true;
}

template <typename Enum, std::size_t N>
consteval bool isEveryValueInPlace(const Enum (&values)[N])
{
    return isEveryValueInPlace<Enum>(values, [](Enum value) { return value; });
}
