// The station's built-in meta-data key: the public half of this project's own key pair, as
// base64 DER SubjectPublicKeyInfo text (six lines of 64 characters and one of 8). Its private
// half is the test key in tests/data, so packages signed by the project's tests and demos
// verify here; a deployment names its own key instead.
#include "packages/meta_data_key.h"

namespace mirk3 {

const std::string& BuiltInMetaDataKey() {
  static const std::string key =
      "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAn2KSTB+2OzBgF7uRV3iX\n"
      "T6Y7EsBX4gI2iNoT7mp7RhWedTMKFR3yXFGkdI1Dhr9BFmPUQvsCZSMSpvyEvxbA\n"
      "H0Wwv/wrfRWTyVxlU7YPvnrL4rP2YYbaj1gL2ez6OGkAngAZDnkiTdW/JE02dRlb\n"
      "xPopBLMhRsA4rUE41Ep9LCOVCQogV0ZXgQubqU7tF3AxcvDD5qEU6HuzMy7dtGhj\n"
      "azwGGCv67kQmkQnyMlbQhg7VBd0omNhRXxwNchBKw5lT86xYMOmYng00eExXhZoU\n"
      "om/amoeRiT6bJ7NqS7ui5LJNcdL0UEcjyK9c2L0HAvN2vPNkFb7s4dVDOo0YOo/o\n"
      "cwIDAQAB\n";
  return key;
}

}  // namespace mirk3
