// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary profile documents, as files from other users and forums arrive.
// The input is one document, or two separated by a zero byte. A document that
// is refused leaves the table untouched and says why, with every placeholder
// of its message filled; one that is read holds 1 to 100 profiles in their
// places, writes back to a document that reads as the same bytes, and the
// table comparison finds a difference exactly where the tables differ.
#include "FuzzSupport.h"
#include "profiles/ProfileFile.h"

#include <QByteArray>
#include <cstring>

using fuzzing::checkMessage;
using fuzzing::fail;

namespace {

ProfileTable sentinel()
{
    ProfileTable table;
    table.currentProfile = 77;
    ZudUsbWheelBaseProfile p{};
    std::memset(&p, 0xA5, sizeof p);
    table.profiles.append(p);
    return table;
}

// Reads one document and checks what a read promises; true when it was read.
bool readChecked(const QByteArray &document, ProfileTable &table, ProfileFileScope &scope)
{
    const ProfileTable untouched = sentinel();
    table = untouched;
    scope = ProfileFileScope::Table;
    QString error;
    if (!profileTableFromJson(document, table, error, scope)) {
        if (table != untouched || scope != ProfileFileScope::Table)
            fail("a refused document changed the table");
        checkMessage(error, document);
        return false;
    }
    const int count = table.profiles.size();
    if (count < 1 || count > maxProfiles)
        fail("a table with a profile count outside 1 to 100 was read");
    if (table.currentProfile < 0 || table.currentProfile >= count)
        fail("a current profile outside the table was read");
    if (scope == ProfileFileScope::Profile && count != 1)
        fail("a single-profile document with more than one profile was read");
    for (int i = 0; i < count; ++i) {
        if (scope == ProfileFileScope::Table && table.profiles[i].index != i)
            fail("a profile was read into another slot than its number");
        profileDisplayName(table.profiles[i]);
    }

    // What is read writes back to a document that reads as the same bytes,
    // and writing that again gives the same text.
    const QByteArray written = profileTableToJson(table, scope);
    ProfileTable again;
    ProfileFileScope againScope = ProfileFileScope::Table;
    QString againError;
    if (!profileTableFromJson(written, again, againError, againScope))
        fail("a table that was read cannot be read back from its own document");
    if (again != table || againScope != scope)
        fail("a table changed on its way through a document");
    if (profileTableToJson(again, againScope) != written)
        fail("writing a table twice gave two documents");
    if (!profileTableDifferences(table, again).isEmpty())
        fail("the comparison found differences between equal tables");
    return true;
}

void checkComparison(const ProfileTable &expected, const ProfileTable &actual)
{
    const QStringList lines = profileTableDifferences(expected, actual);
    if (lines.isEmpty() != (expected == actual))
        fail("the comparison disagrees with the tables' bytes");
    for (const QString &line : lines)
        if (line.isEmpty())
            fail("the comparison gave an empty line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzing::ensureApplication();
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const int split = input.indexOf('\0');
    const QByteArray first = split < 0 ? input : input.left(split);

    ProfileTable a;
    ProfileFileScope scope;
    const bool readA = readChecked(first, a, scope);
    if (split >= 0) {
        ProfileTable b;
        ProfileFileScope scopeB;
        if (readChecked(input.mid(split + 1), b, scopeB) && readA) {
            checkComparison(a, b);
            checkComparison(b, a);
        }
    }
    if (!readA)
        return 0;

    // A device that holds the table with one field of one profile changed:
    // the comparison names a difference.
    ProfileTable changed = a;
    const int profile = int(size % size_t(a.profiles.size()));
    uint8_t *bytes = reinterpret_cast<uint8_t *>(&changed.profiles[profile]);
    bytes[size % sizeof(ZudUsbWheelBaseProfile)] ^= uint8_t(1u << (size % 8));
    checkComparison(a, changed);
    changed.profiles.removeLast();
    checkComparison(a, changed);
    return 0;
}
