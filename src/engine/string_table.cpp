#include "engine/string_table.h"

namespace mirk3 {

const char* LoadString(int id) {
  switch (id) {
    case IDS_PORT_OPEN_FAILED:
      return "Can't open the serial port.";
    case IDS_FILE_OPEN_FAILED:
      return "Can't open the specified file.";
    case IDS_NO_PIT_PARTITION:
      return "There is no PIT partition.";
    case IDS_WRITE_COMPLETION_FAILED:
      return "Complete(Write) operation failed.";
    case IDS_REPARTITION_FAILED:
      return "Re-Partition operation failed.";
    case IDS_OUT_OF_MEMORY:
      return "Not enough memory.";
    case IDS_MD5_INVALID:
      return "MD5 hash value is invalid.";
    case IDS_LOCK_FAILED:
      return "Lock operation failed.";
    case IDS_FAIL_DEVICE_INFO:
      return "FAIL! (DeviceInfo)";
    case IDS_FAIL_EXT4:
      return "FAIL! (Ext4)";
    case IDS_FAIL_SIZE:
      return "FAIL! (Size)";
    case IDS_FAIL_AUTH:
      return "FAIL! (Auth)";
    case IDS_FAIL_WRITE:
      return "FAIL! (Write)";
    case IDS_FAIL_ERASE:
      return "FAIL! (Erase)";
    case IDS_FAIL_WP:
      return "FAIL! (WP)";
    default:
      return "";
  }
}

}  // namespace mirk3
