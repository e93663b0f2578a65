#include "engine/run_report.h"

#include "engine/time_format.h"

namespace tarnwick {

double remainingDays(const RunProgress& p) {
  const double elapsed = p.elapsedSeconds / 86400.0;
  if (p.position <= 0) return 1.0 / 86400.0;
  return elapsed * static_cast<double>(p.size) / static_cast<double>(p.position) - elapsed + 1.0 / 86400.0;
}

std::string remainingTime(const RunProgress& p) { return formatLongTime(remainingDays(p)); }

std::string progressText(const RunProgress& p, std::string_view remaining) {
  std::string text = p.task.empty() ? std::string() : p.task + " ";
  text += std::to_string(p.position / 0x100000) + "/" + std::to_string(p.size / 0x100000) +
          " Mbytes, Remaining time: ";
  text += remaining;
  return text;
}

std::string progressText(const RunProgress& p) { return progressText(p, remainingTime(p)); }

Outcome Outcome::failed(std::exception_ptr error) {
  Outcome outcome;
  outcome.kind = Kind::Failed;
  outcome.error = error;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    outcome.message = e.what();
  } catch (...) {
    outcome.message = "Unknown error";
  }
  return outcome;
}

}  // namespace tarnwick
