#pragma once
// The one vocabulary of the machine-readable output: the names of the
// events, endings and fields of update-cli's --json lines, its --log
// records, a station's own events and --list-ports --json; the writers build
// their objects here and the station reads its children's events with the
// same names. Both sides go through nlohmann-json.
//
// Objects keep their fields in the order they were added. Every text is
// written as a JSON string of its bytes; a byte that is not part of valid
// UTF-8 stands for the character of the same number (0xFF for U+00FF), so a
// name is the same text in every event and record. Seconds are rounded to
// milliseconds.

#include "RunOutcome.h"
#include "SignatureCheck.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace devupdate::update {

using JsonObject = nlohmann::ordered_json;

namespace events {

// Values of the field "event".
namespace name {
inline constexpr char MESSAGE[] = "message";
inline constexpr char PROGRESS[] = "progress";
inline constexpr char COMMENT[] = "comment";
inline constexpr char BOX[] = "box";
inline constexpr char ANSWERED[] = "answered";
inline constexpr char END[] = "end";
inline constexpr char STATION_PORT[] = "station_port";
inline constexpr char TRACE_KEPT[] = "trace_kept";
inline constexpr char SUMMARY[] = "summary";
inline constexpr char PORT[] = "port";  // --list-ports: a serial device
inline constexpr char COM[] = "com";    // --list-ports: where ComN leads
}  // namespace name

// Endings besides the outcome's own (EndingName).
namespace ending {
inline constexpr char USAGE_ERROR[] = "usage_error";
}  // namespace ending

namespace field {
inline constexpr char EVENT[] = "event";
inline constexpr char TEXT[] = "text";
inline constexpr char FIRST[] = "first";
inline constexpr char LAST[] = "last";
inline constexpr char TARGET[] = "target";
inline constexpr char NAME[] = "name";
inline constexpr char PERCENT[] = "percent";
inline constexpr char STATUS[] = "status";
inline constexpr char ENDING[] = "ending";
inline constexpr char EXIT_STATUS[] = "exit_status";
inline constexpr char MESSAGE[] = "message";
inline constexpr char TARGETS_UPDATED[] = "targets_updated";
inline constexpr char TARGET_COUNT[] = "target_count";
inline constexpr char BODY_COMPLETE[] = "body_complete";
inline constexpr char RECORDS[] = "records";
inline constexpr char RECORD[] = "record";
inline constexpr char TYPE[] = "type";
inline constexpr char RESULT[] = "result";
inline constexpr char BYTES_SENT[] = "bytes_sent";
inline constexpr char SECONDS[] = "seconds";
inline constexpr char OS_ERROR[] = "os_error";
// The log record.
inline constexpr char START[] = "start";
inline constexpr char PROGRAM[] = "program";
inline constexpr char PORT[] = "port";
inline constexpr char DEVICE[] = "device";
inline constexpr char SERIAL_NUMBER[] = "serial_number";
inline constexpr char DEVICE_ANSWERED[] = "device_answered";
inline constexpr char FILE[] = "file";
inline constexpr char SIZE[] = "size";
inline constexpr char SHA256[] = "sha256";
// The update file's signature (end event and log record).
inline constexpr char SIGNATURE[] = "signature";
inline constexpr char KEY_ID[] = "key_id";
inline constexpr char TRUSTED_COMMENT[] = "trusted_comment";
inline constexpr char TRUSTED[] = "trusted";
// A station.
inline constexpr char PASS[] = "pass";
inline constexpr char TRACE[] = "trace";
inline constexpr char PATH[] = "path";
inline constexpr char PASSED[] = "passed";
inline constexpr char FAILED[] = "failed";
inline constexpr char CANCELLED[] = "cancelled";
inline constexpr char PORTS[] = "ports";
// --list-ports.
inline constexpr char BY_ID[] = "by_id";
inline constexpr char BY_PATH[] = "by_path";
inline constexpr char DRIVER[] = "driver";
inline constexpr char USB_VENDOR[] = "usb_vendor";
inline constexpr char USB_PRODUCT[] = "usb_product";
inline constexpr char MANUFACTURER[] = "manufacturer";
inline constexpr char PRODUCT[] = "product";
inline constexpr char PRESENT[] = "present";
inline constexpr char ACCESSIBLE[] = "accessible";
inline constexpr char GROUP[] = "group";
inline constexpr char COM[] = "com";
inline constexpr char LATENCY_TIMER_MS[] = "latency_timer_ms";
inline constexpr char LEADS_TO[] = "leads_to";
inline constexpr char SERIAL_DEVICE[] = "serial_device";
}  // namespace field

}  // namespace events

// An object whose first field names the event.
JsonObject JsonEvent(const char* name);
// The outcome's records, one object each.
JsonObject JsonRecords(const SRunOutcome& outcome);
// The end event: the whole outcome and the exit status.
JsonObject JsonEndEvent(const SRunOutcome& outcome, int exitStatus);
// The end event of a run that never began: the ending named and the reason.
JsonObject JsonErrorEnd(const char* ending, const std::string& message, int exitStatus);
// The file's signature as the line "signed by ..." names it: key_id,
// trusted_comment and trusted; null when the file is not signed.
JsonObject JsonSignature(const SSignatureCheck& check);
// Seconds as they are written: to the millisecond.
double JsonSeconds(double seconds);

// The object on one line, ending in a line end (texts as the header says).
std::string JsonLine(JsonObject object);
// The object's fields without the braces, to put in front of another
// object's (see JsonWithFields).
std::string JsonFields(const JsonObject& object);
// A written object line with `fields` put first.
std::string JsonWithFields(const std::string& fields, const std::string& objectLine);

// Reading an event: the text or integer of a field, `otherwise` when the
// field is missing or of another kind.
std::string JsonTextOf(const nlohmann::json& event, const char* field);
int JsonNumberOf(const nlohmann::json& event, const char* field, int otherwise);
bool JsonFlagOf(const nlohmann::json& event, const char* field);

}  // namespace devupdate::update
