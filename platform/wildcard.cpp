#include "wildcard.h"

#include <QList>

namespace zelv {

namespace {

// Names are compared case-folded, one code point at a time.
std::vector<char32_t> foldedCodePoints(QStringView text)
{
    std::vector<char32_t> out;
    out.reserve(size_t(text.size()));
    for (char32_t c : text.toUcs4())
        out.push_back(QChar::toCaseFolded(c));
    return out;
}

} // namespace

// The pattern is turned into the same operators the original file system matches with:
// "?" becomes a question mark that may match nothing at a dot or at the end, a "*" right before
// a dot stops at the name's last dot, and a dot before a wildcard or at the end may match the
// end of a name that has no dot.
WildcardPattern::WildcardPattern(QStringView pattern) : m_text(pattern.toString())
{
    if (pattern == u"*" || pattern == u"*.*") {
        m_matchesAll = true;
        return;
    }
    const std::vector<char32_t> cps = foldedCodePoints(pattern);
    for (size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        const char32_t next = i + 1 < cps.size() ? cps[i + 1] : 0;
        if (c == U'?')
            m_tokens.push_back({Op::DosQm, 0});
        else if (c == U'*')
            m_tokens.push_back({next == U'.' ? Op::DosStar : Op::Star, 0});
        else if (c == U'.' && (next == U'?' || next == U'*' || next == 0))
            m_tokens.push_back({Op::DosDot, 0});
        else
            m_tokens.push_back({Op::Literal, c});
    }
}

std::vector<char32_t> WildcardPattern::fold(QStringView name) { return foldedCodePoints(name); }

bool WildcardPattern::matches(QStringView name) const
{
    return m_matchesAll || matchFrom(0, foldedCodePoints(name), 0);
}

bool WildcardPattern::matchesFolded(const std::vector<char32_t> &foldedName) const
{
    return m_matchesAll || matchFrom(0, foldedName, 0);
}

bool WildcardPattern::matchFrom(size_t t, const std::vector<char32_t> &name, size_t n) const
{
    while (t < m_tokens.size()) {
        const Token &tok = m_tokens[t];
        switch (tok.op) {
        case Op::Literal:
            if (n >= name.size() || name[n] != tok.ch)
                return false;
            ++t;
            ++n;
            break;
        case Op::DosQm:
            // One character; none at a dot or at the end of the name.
            if (n >= name.size() || name[n] == U'.') {
                ++t;
            } else {
                ++t;
                ++n;
            }
            break;
        case Op::DosDot:
            if (n >= name.size()) {
                ++t;
            } else if (name[n] == U'.') {
                ++t;
                ++n;
            } else {
                return false;
            }
            break;
        case Op::Star: {
            if (t + 1 == m_tokens.size())
                return true;
            for (size_t k = n; k <= name.size(); ++k)
                if (matchFrom(t + 1, name, k))
                    return true;
            return false;
        }
        case Op::DosStar: {
            // Any run that does not pass the name's last dot.
            size_t limit = name.size();
            for (size_t k = name.size(); k > n; --k) {
                if (name[k - 1] == U'.') {
                    limit = k - 1;
                    break;
                }
            }
            if (limit < n)
                limit = n;
            for (size_t k = n; k <= limit; ++k)
                if (matchFrom(t + 1, name, k))
                    return true;
            return false;
        }
        }
    }
    return n == name.size();
}

WildcardFilter::WildcardFilter(QStringView patterns)
{
    for (QStringView part : patterns.split(u';')) {
        part = part.trimmed();
        if (!part.isEmpty())
            m_patterns.emplace_back(part);
    }
}

bool WildcardFilter::matches(QStringView name) const
{
    if (m_patterns.empty())
        return false;
    const std::vector<char32_t> folded = WildcardPattern::fold(name);
    for (const WildcardPattern &p : m_patterns)
        if (p.matchesFolded(folded))
            return true;
    return false;
}

} // namespace zelv
