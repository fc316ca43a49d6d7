// Placeholder until the PAM client lands.
#include "auth.h"

Result<Ok> authenticate_user(const std::string&, const std::string&) {
    return Err{"Authentication failed: System_Err (4)"};
}
