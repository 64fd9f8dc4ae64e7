// The WHEN of `velmora-cli history --since WHEN --until WHEN`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// The instant `when` names, in ms since 1970 (UTC): an ISO date
/// ("2025-03-01", its local midnight; with `endOfDay` the midnight after
/// it), an ISO date-time in local time or with its zone
/// ("2025-03-01T14:00", "2025-03-01 14:00:30", "2025-03-01T14:00+01:00"),
/// or "today" (as the date of `nowMs`). Nothing for anything else.
std::optional<int64_t> ParseWhen(const std::string& when, bool endOfDay, int64_t nowMs);

/// The local midnight that begins the date `days` days before the date of
/// `nowMs` (0: today's midnight), as a period of whole days starts.
std::optional<int64_t> DaysBackStart(int days, int64_t nowMs);
