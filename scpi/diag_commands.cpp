// DIAGnostic commands served by the engine alone: DIAGnostic:DATA? reports the last
// keyword the header walk could not place, which helps a user find a typing error.
#include "scpi/command_tree.h"
#include "scpi/handler_support.h"
#include "scpi/scpi_handlers.h"

NO_PARAMETERS_VALIDATION(DIAG_DATAQuery)

int32_t DIAG_DATAQuery_DoExecutionConclusion(CommandContext* context) {
  const char* keyword = LastUnknownKeyword();
  // Before any unknown keyword the answer is an empty line rather than no answer,
  // so a client waiting for it is not left hanging.
  if (keyword[0] == '\0') return AppendEmptyReply(context);
  return AppendStringToReply(keyword, context);
}
