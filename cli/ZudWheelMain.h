// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QIODevice;

// zud-wheel: the command line over the device library. Runs one command and
// returns its exit status: 0 done, 1 no such device, 2 usage error, 3 the
// device refused, failed or left, 4 a file that cannot be read, written or
// parsed. Creates the core application object when there is none.
int zudWheelMain(int argc, char **argv);
// The same with standard output and standard error replaced, for running
// commands in-process; errIsTerminal chooses the progress bar over lines.
int zudWheelMain(int argc, char **argv, QIODevice &out, QIODevice &err, bool errIsTerminal);
