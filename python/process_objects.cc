#include "process_objects.h"

namespace tagatlas::py {

constinit ProcessObjects process_objects;

}  // namespace tagatlas::py
