#pragma once
// The discovery replies of count amplifiers, as the benchmarks feed them: distinct MACs, addresses
// from 198.18.1.1 upwards and names Amp-0000 on.

#include <cstdio>
#include <string>
#include <vector>

inline std::vector<std::string> Replies(int count)
{
    std::vector<std::string> replies;
    for (int i = 0; i < count; ++i) {
        char text[96];
        std::snprintf(text, sizeof text, "0050C2%06X 0 198.18.%d.%d 255.255.0.0 0.0.0.0 Amp-%04d", i,
            1 + i / 254, 1 + i % 254, i);
        replies.emplace_back(text);
    }
    return replies;
}
