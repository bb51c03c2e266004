// Packet command codes of the link, in both directions: the command field of a frame.
#pragma once
#include <cstdint>

namespace transfer {

enum class CommandCode : uint16_t {
    RS232_CMD_BAD_CHECKSUM = 1,
    RS232_RESEND_REMOTE_TIMEOUT = 2,
    RS232_CMD_LOG = 3,
    RS232_CMD_NLEC_SEND = 5,
    RS232_CMD_NLEC_SEND_LINE = 6,
    RS232_CMD_NLEC_SEND_END = 7,
    RS232_CMD_NLEC_ERROR = 8,
    RS232_CMD_FILE_SEND = 10,
    RS232_CMD_FILE_SEND_DATA = 11,
    RS232_CMD_FILE_SEND_END = 12,
    RS232_CMD_FILE_ERROR = 13,
    RS232_CMD_FLASH_ERASE_RESULT = 15,
    RS232_CMD_NLEC_GET = 16,
    RS232_CMD_NLEC_GET_LINE = 17,
    RS232_CMD_NLEC_GET_LAST_LINE = 18,
    RS232_CMD_FIXED_REQUEST = 19,
    RS232_CMD_FILE_GET = 20,
    RS232_CMD_FILE_GET_DATA = 21,
    RS232_CMD_FILE_GET_END = 22,
    RS232_CMD_FILE_GET_TEXT = 23,
};

}  // namespace transfer
