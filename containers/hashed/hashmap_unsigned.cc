// The hashmap's instantiations for the unsigned key types.
#include "containers/hashed/hashmap.h"

namespace nosql_db {

NOSQL_INST_HM_K(uint8_t)
NOSQL_INST_HM_K(uint16_t)
NOSQL_INST_HM_K(uint32_t)
NOSQL_INST_HM_K(uint64_t)

}  // namespace nosql_db
