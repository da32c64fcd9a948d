#include "iniText/CIniWrittenText.h"

namespace {

bool isHexDigit(char16_t ch)
{
    return (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
}

// Characters the writer stores as a backslash and a letter or the character itself.
bool hasNamedEscape(char16_t ch)
{
    return ch == u'\a' || ch == u'\b' || ch == u'\f' || ch == u'\n' || ch == u'\r' ||
           ch == u'\t' || ch == u'\v' || ch == u'"' || ch == u'\\';
}

} // namespace

int CIniWrittenText::dropMarksLostOnSave(QStringList& items)
{
    int dropped = 0;
    for (QString& item : items) {
        // Such an item is written as "@String(...)": the decoder starts with its "@".
        if (item.contains(QChar::Null))
            return dropped;
        // Other controls become numeric escapes, and the hex digits after one are escaped too
        // so that they are not read as part of it; escapes never reach the decoder.
        bool afterNumericEscape = false;
        qsizetype i = 0;
        while (i < item.size()) {
            // Written behind "@@".
            if (i == 0 && item.startsWith(u'@'))
                return dropped;
            const char16_t ch = item.at(i).unicode();
            if (afterNumericEscape && isHexDigit(ch)) {
                ++i;
            } else if (hasNamedEscape(ch)) {
                afterNumericEscape = false;
                ++i;
            } else if (ch <= 0x1F) {
                afterNumericEscape = true;
                ++i;
            } else if (ch == 0xFEFF) {
                item.remove(i, 1);
                ++dropped;
            } else {
                return dropped;
            }
        }
    }
    return dropped;
}
