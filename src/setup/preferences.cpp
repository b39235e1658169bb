#include "setup/preferences.h"

namespace tarvik {

std::string FontSampleText(int charset) {
    // Codes 192, 193, 194, 224, 225, 226 of each single-byte code page.
    struct TSet {
        int Charset;
        const char* Chars;
    };
    static const TSet sets[] = {
        {204, "\u0410\u0411\u0412\u0430\u0431\u0432"},  // Cyrillic, 1251
        {238, "\u0154\u00C1\u00C2\u0155\u00E1\u00E2"},  // Central European, 1250
        {161, "\u0390\u0391\u0392\u03B0\u03B1\u03B2"},  // Greek, 1253
        {177, "\u05B0\u05B1\u05B2\u05D0\u05D1\u05D2"},  // Hebrew, 1255
        {178, "\u06C1\u0621\u0622\u00E0\u0644\u00E2"},  // Arabic, 1256
        {186, "\u0104\u012E\u0100\u0105\u012F\u0101"},  // Baltic, 1257
        {222, "\u0E20\u0E21\u0E22\u0E40\u0E41\u0E42"},  // Thai, 874
    };
    for (const TSet& s : sets)
        if (s.Charset == charset) return std::string("ABCabc") + s.Chars;
    // Western (1252), also Turkish (1254) and Vietnamese (1258), which agree
    // on these six codes.
    return "ABCabc\u00C0\u00C1\u00C2\u00E0\u00E1\u00E2";
}

}  // namespace tarvik
