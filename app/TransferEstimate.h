// SPDX-License-Identifier: GPL-3.0-or-later
// The speed and the time left of a firmware transfer, for the text of its
// progress bar.
#pragma once

#include <QString>
#include <QtGlobal>

// The bar's format after `done` of `total` chunks in `elapsedMs`: the chunk
// count (as the bar's own %v and %m), and once a chunk has gone through, the
// chunks per second and the time left at that pace.
QString firmwareProgressFormat(int done, int total, qint64 elapsedMs);
