#include "receipt/code128.h"

#include <string>
#include <vector>

namespace vorpane::receipt {
namespace {

// Bar and space widths of each symbol value, 0..105; the stop pattern is
// apart, as it has seven elements.
constexpr const char* kPatterns[] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232"};
constexpr const char* kStop = "2331112";

enum Set { kSetA, kSetB, kSetC };
constexpr int kShift = 98;
constexpr int kCodeC = 99;
constexpr int kCodeB = 100;
constexpr int kCodeA = 101;
constexpr int kFnc1 = 102;
constexpr int kStartA = 103;

// The value of a byte in set A or B, or -1 when that set has no such character.
int ValueIn(Set set, uint8_t b) {
    if (set == kSetA) {
        return b < 0x20 ? b + 64 : b < 0x60 ? b - 0x20 : -1;
    }
    return b >= 0x20 && b < 0x80 ? b - 0x20 : -1;
}

void AddPattern(Symbol& s, const char* widths) {
    bool bar = true;
    for (const char* w = widths; *w; ++w, bar = !bar) {
        s.modules.insert(s.modules.end(), static_cast<size_t>(*w - '0'), bar ? 1 : 0);
    }
}

}  // namespace

Symbol EncodeCode128(std::span<const uint8_t> data) {
    Symbol out;
    auto fail = [&out](const char* why) {
        out = {};
        out.error = why;
        return out;
    };
    if (data.size() < 2 || data[0] != '{' || (data[1] < 'A' || data[1] > 'C')) {
        return fail("CODE128 data begins with no code set ({A, {B or {C)");
    }
    std::vector<int> values;
    Set set = kSetA;
    for (size_t i = 0; i < data.size(); ++i) {
        uint8_t b = data[i];
        bool shifted = false;
        if (b == '{') {
            if (++i == data.size()) {
                return fail("CODE128 data ends in a lone {");
            }
            const uint8_t code = data[i];
            const int fnc[] = {kFnc1, 97, 96, set == kSetA ? kCodeA : kCodeB};
            if (code >= 'A' && code <= 'C') {
                const Set next = static_cast<Set>(code - 'A');
                const int codes[] = {kCodeA, kCodeB, kCodeC};
                // A switch to the set in use would read as a function code.
                if (values.empty() || next != set) {
                    values.push_back(values.empty() ? kStartA + next : codes[next]);
                }
                set = next;
                continue;
            }
            if (code >= '1' && code <= '4' && (set != kSetC || code == '1')) {
                values.push_back(fnc[code - '1']);
                continue;
            }
            if (code == 'S' && set != kSetC && i + 1 < data.size()) {
                values.push_back(kShift);
                b = data[++i];
                shifted = true;
            } else if (code != '{' || set == kSetC) {
                return fail("CODE128 data holds an escape the printer does not know");
            }
        }
        if (set == kSetC) {
            if (b > 99) {
                return fail("CODE128 set C takes bytes 0 to 99");
            }
            values.push_back(b);
            out.text += static_cast<char>('0' + b / 10);
            out.text += static_cast<char>('0' + b % 10);
            continue;
        }
        const int value = ValueIn(shifted ? (set == kSetA ? kSetB : kSetA) : set, b);
        if (value < 0) {
            return fail("CODE128 data holds a character its code set has not");
        }
        values.push_back(value);
        out.text += static_cast<char>(b);
    }
    if (values.size() < 2) {
        return fail("CODE128 data holds no characters");
    }
    int check = values[0];
    for (size_t i = 1; i < values.size(); ++i) {
        check += static_cast<int>(i) * values[i];
    }
    values.push_back(check % 103);
    for (const int v : values) {
        AddPattern(out, kPatterns[v]);
    }
    AddPattern(out, kStop);
    out.width = static_cast<int>(out.modules.size());
    out.rows = 1;
    return out;
}

Symbol EncodeCode128Auto(std::span<const uint8_t> data, bool gs1) {
    Symbol out;
    constexpr int kFnc = -1;
    std::vector<int> units;
    std::string hri;
    for (size_t i = 0; i < data.size(); ++i) {
        const uint8_t b = data[i];
        if (gs1 && b == '{') {
            const uint8_t code = i + 1 < data.size() ? data[++i] : 0;
            if (code != '1' && code != '{') {
                out.error = "GS1-128 data holds an escape the printer does not know";
                return out;
            }
            if (code == '{') {
                units.push_back('{');
                hri += '{';
            } else {
                units.push_back(kFnc);
            }
            continue;
        }
        if (b >= 0x80) {
            out.error = "CODE128 data holds a byte no code set has";
            return out;
        }
        hri += static_cast<char>(b);
        if (!gs1 || (b != ' ' && b != '(' && b != ')')) {
            units.push_back(b);
        }
    }
    if (gs1 && (units.empty() || units[0] != kFnc)) {
        units.insert(units.begin(), kFnc);
    }
    auto digitRun = [&units](size_t i) {
        size_t n = 0;
        while (i + n < units.size() && units[i + n] >= '0' && units[i + n] <= '9') {
            ++n;
        }
        return n;
    };
    // Set C pays for its switch from four digits on, or from two when they
    // are all the data there is.
    auto wantsC = [&](size_t i, char set) {
        const size_t run = digitRun(i);
        return set == 'C' ? run >= 2
                          : (run >= 4 && (run % 2 == 0 || set == 0)) ||
                                (set == 0 && run == 2 && i + 2 == units.size());
    };
    std::vector<uint8_t> coded;
    char set = 0;
    auto use = [&](char next) {
        if (set != next) {
            coded.insert(coded.end(), {'{', static_cast<uint8_t>(next)});
            set = next;
        }
    };
    for (size_t i = 0; i < units.size();) {
        const int u = units[i];
        if (u == kFnc) {
            size_t next = i + 1;
            if (set == 0) {
                use(wantsC(next, 0)                                                 ? 'C'
                    : next < units.size() && units[next] < 0x20 && units[next] >= 0 ? 'A'
                                                                                    : 'B');
            }
            coded.insert(coded.end(), {'{', '1'});
            i = next;
            continue;
        }
        if (wantsC(i, set)) {
            use('C');
            coded.push_back(static_cast<uint8_t>((u - '0') * 10 + units[i + 1] - '0'));
            i += 2;
            continue;
        }
        use(u < 0x20 ? 'A' : u >= 0x60 || set != 'A' ? 'B' : 'A');
        if (u == '{') {
            coded.push_back('{');
        }
        coded.push_back(static_cast<uint8_t>(u));
        ++i;
    }
    out = EncodeCode128(coded);
    if (out.error.empty()) {
        out.text = hri;
    }
    return out;
}

}  // namespace vorpane::receipt
