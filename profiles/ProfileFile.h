// SPDX-License-Identifier: GPL-3.0-or-later
// A wheel base's profile table as a file on the host: the versioned JSON
// document that exports, imports and backups share, its strict reader, and
// the field-by-field comparison used to verify a save.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

class UsbDeviceZudWheelBase;

// A wheel base's profile table as it is held in memory (the device
// object's profileCount / currentProfile / profiles[]).
struct ProfileTable {
    int currentProfile = 0;
    QVector<ZudUsbWheelBaseProfile> profiles; // at most maxProfiles records
};
// Byte-exact: the current index and every byte of every record.
bool operator==(const ProfileTable &a, const ProfileTable &b);
bool operator!=(const ProfileTable &a, const ProfileTable &b);

// The table the device object holds now (as last loaded and edited).
ProfileTable profileTableOf(const UsbDeviceZudWheelBase &wheelBase);
// Replaces the device object's table in memory (profileCount,
// currentProfile, profiles[]; the slots past the count are zeroed). Sends
// nothing to the device.
void applyProfileTable(const ProfileTable &table, UsbDeviceZudWheelBase &wheelBase);

// What a file holds: a whole table, or one profile exported on its own
// (which an import puts in place of the current profile).
enum class ProfileFileScope { Table, Profile };

// The document {"format": "zud-wheel-profiles", "version": 1,
// "currentProfile": N, "profiles": [...]}, one object per profile with the
// record's field names in record order. Enumerations are written as the
// editor's combo texts where one exists, else as numbers; names that are not
// plain UTF-8 text carry their 16 bytes in "nameBytes", floats that a JSON
// number cannot carry exactly are written as their bit pattern ("0x7fc00000").
QByteArray profileTableToJson(const ProfileTable &table);
QByteArray profileTableToJson(const ProfileTable &table, ProfileFileScope scope);
// Validates the whole document before it touches table: false and a message
// that names the profile and the field when anything is wrong.
bool profileTableFromJson(const QByteArray &json, ProfileTable &table, QString &error);
bool profileTableFromJson(const QByteArray &json, ProfileTable &table, QString &error,
                          ProfileFileScope &scope);

// Files: written whole or not at all; read with a size limit. false and a
// message naming the file and the reason on any failure.
bool writeProfileFile(const QString &path, const ProfileTable &table, QString &error);
bool writeProfileFile(const QString &path, const ProfileTable &table, ProfileFileScope scope,
                      QString &error);
bool readProfileFile(const QString &path, ProfileTable &table, QString &error);
bool readProfileFile(const QString &path, ProfileTable &table, QString &error,
                     ProfileFileScope &scope);
// Files larger than this are refused unread.
constexpr qint64 maxProfileFileBytes = 4 * 1024 * 1024;

// Every difference between what was sent and what the device holds, one
// line per profile and field (`Profile 2 "Wet": "damping" is 30, expected
// 40.`), plus count and current-profile differences; empty when equal.
QStringList profileTableDifferences(const ProfileTable &expected, const ProfileTable &actual);

// Reads a JSON document whose top is an object, as the tool's files are:
// refuses a key that appears twice in one object (Qt's parser would keep the
// last one without a word), text that is not JSON, and a top that is not an
// object, naming `kind` ("profile file", "games file") in the message.
bool readJsonObjectDocument(const QByteArray &json, const QString &kind, QJsonObject &root,
                            QString &error);

// The texts of the editor's encoder type and effect source combo items, in
// value order; the file format uses them for those fields.
QStringList encoderTypeTexts();
QStringList effectSourceTexts();

// A profile's name as a person reads it: the bytes up to the first zero as
// UTF-8, or one Latin-1 character per byte when they are not UTF-8.
QString profileDisplayName(const ZudUsbWheelBaseProfile &profile);
