// SPDX-License-Identifier: GPL-3.0-or-later
// The wheel base's reply-driven exchanges, run to their end from the top of
// a command: load the table, save it, centre the rim. Each returns an exit
// status; a failure is printed with the step and the state the device is in.
#pragma once

#include "cli/DeviceSession.h"

#include <QString>

// "<step> failed: <what>. <state>" on standard error; returns status 3.
int reportStepFailure(CliConsole &console, const QString &step, const QString &what,
                      const QString &state);

// Each takes the state to name when it fails ("Nothing was changed on the
// device.", ...).
//
// unreadable, when given, takes the refusal of a wheel base whose firmware
// speaks another settings layout, whose table cannot be read at all: that
// refusal is then not reported (status 0), and the caller says what it
// does instead.
int loadWheelBaseTable(DeviceSession &session, const QString &id, const QString &step,
                       const QString &stateOnFailure, QString *unreadable = nullptr);
int saveWheelBaseTable(DeviceSession &session, const QString &id, const QString &step,
                       const QString &stateOnFailure);
int centerWheelBaseRim(DeviceSession &session, const QString &id, const QString &step,
                       const QString &stateOnFailure);
