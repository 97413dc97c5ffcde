#include "platform/framework/Exceptions.h"

namespace Tx {

void Abort() { throw EAbort(); }

}  // namespace Tx
