#include "gauge/linearisation_table.h"

#include <array>

namespace piezon
{
namespace
{

struct Run {
    int first;
    int last;
    int amount;
};

// The calibration as runs of equal correction; code 13 was left uncorrected on purpose.
constexpr std::array<Run, 28> kRuns{{
    {8, 12, 1},     {14, 29, 1},    {30, 37, 2},    {38, 49, 3},    {50, 52, 4},    {53, 56, 5},
    {57, 61, 6},    {62, 69, 7},    {70, 71, 8},    {72, 74, 9},    {75, 78, 10},   {79, 89, 11},
    {90, 99, 12},   {100, 114, 13}, {115, 141, 14}, {142, 157, 13}, {158, 167, 12}, {168, 178, 11},
    {179, 182, 10}, {183, 185, 9},  {186, 187, 8},  {188, 195, 7},  {196, 200, 6},  {201, 204, 5},
    {205, 207, 4},  {208, 219, 3},  {220, 227, 2},  {228, 247, 1},
}};

constexpr std::array<int, 256> buildAmounts()
{
    std::array<int, 256> amounts{};
    for (const Run& run : kRuns)
        for (int code = run.first; code <= run.last; ++code)
            amounts[static_cast<std::size_t>(code)] = run.amount;
    return amounts;
}

constexpr std::array<int, 256> kAmounts = buildAmounts();

} // namespace

int linearisationAmount(int code)
{
    if (code < 0 || code > 255)
        return 0;
    return kAmounts[static_cast<std::size_t>(code)];
}

int linearise(int raw)
{
    return raw - linearisationAmount(raw);
}

} // namespace piezon
