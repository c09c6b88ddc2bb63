#include <ostream>

#include "service/operator_command.h"

namespace mvx {

int RunPlanCommand(const std::vector<std::string>&, const ServiceOptions&, const Clock&,
                   std::ostream&, std::ostream& err) {
  err << "MvxRazuRarevi: this command is not available yet\n";
  return 3;
}

}  // namespace mvx
