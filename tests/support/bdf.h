// Reading the BDF files that fstobdf writes, strictly, for the tests that
// dump served fonts with it.
#pragma once

#include <array>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct BdfFont {
    std::string problem; // empty when the file is well-formed
    int chars = 0;
    long inkBits = 0;
    // Glyph rows of each encoding, as hexadecimal lines.
    std::map<int, std::vector<std::string>> rows;
    std::map<int, int> advances;
    // Bounding box of each encoding: width, height, x and y offset.
    std::map<int, std::array<int, 4>> boxes;

    // The inked pixels of one encoding as (x, y) of their bottom-left
    // corner, the glyph origin at (0, 0); empty when the encoding is absent.
    std::set<std::pair<int, int>> ink(int encoding) const;
};

// Reads a BDF file strictly: the header keywords in order, the property
// count, and for every character its encoding, widths, box and exactly as
// many bitmap rows as the box is high, each as long as its width needs.
BdfFont readBdf(const std::string& text);
