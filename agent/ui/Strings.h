#pragma once

// The user-visible texts of the status display and the feature dialogs, by resource number.
namespace strings {

constexpr const char* ProductName = "KZB Voralis";             // 128
constexpr const char* Recording = "Recording";                 // 129
constexpr const char* Suppressing = "Suppressing";             // 130
constexpr const char* Idle = "Idle";                           // 131
constexpr const char* EventFeedUnavailable = "Event Feed Unavailable"; // 132
constexpr const char* NotConfigured = "Not Configured";        // 133
constexpr const char* Discarding = "Discarding";               // 134
constexpr const char* And = "and";                             // 2005

// Status dialog messages; %s is a recorder's address.
constexpr const char* ConfigurationInvalid = "Voralis configuration is invalid\n"; // 1000
constexpr const char* NotConnected = "Not connected to the recorder at '%s'\n"; // 1001
constexpr const char* InvalidAddress = "Invalid IP address configured for the recorder ('%s')\n"; // 1002
constexpr const char* NoLongerAttempting = "No longer attempting to communicate with the recorder at '%s'\n"; // 1003
constexpr const char* UnexpectedConnectionStatus =
    "Unexpected recorder connection status (%lu) for the recorder at '%s'\n"; // 1099
constexpr const char* AnnotationErrors =
    "There are errors in the annotation configuration from the recorder at '%s'\n"; // 1100
constexpr const char* AnnotationDifferences =
    "There are differences in the annotation configuration from the recorder at '%s' and '%s'\n"; // 1101
constexpr const char* UnexpectedAnnotationStatus = "Unexpected annotation status (%lu) for the recorder at '%s'\n"; // 1199
constexpr const char* AnnotationEnabledOnlyOn =
    "Annotation is enabled for the recorder at '%s' but not for the recorder at '%s'\n"; // 1200
constexpr const char* ManualSuppressionEnabledOnlyOn =
    "Manual audio suppression is enabled for the recorder at '%s' but not for the recorder at '%s'\n"; // 1201
constexpr const char* CallStatesDiffer =
    "The call state for the recorder at '%s' is '%s', but the call state for the recorder at '%s' is '%s'\n"; // 1202
constexpr const char* StateTimeoutsDiffer =
    "The call state timeout for the recorder at '%s' is set to '%lu', but the recorder at '%s' is set to '%lu'\n"; // 1203
constexpr const char* RecordOnDemandEnabledOnlyOn =
    "Record on Demand is enabled for the recorder at '%s' but not for the recorder at '%s'\n"; // 1204
constexpr const char* RecordOnDemandModesDiffer =
    "The Record on Demand mode for the recorder at '%s' is '%s', but the Record on Demand mode for the recorder at "
    "'%s' is '%s'\n"; // 1205
constexpr const char* RecordOnDemandStatesDiffer =
    "The Record on Demand state for the recorder at '%s' is '%s', but the Record on Demand state for the recorder "
    "at '%s' is '%s'\n"; // 1206
constexpr const char* NotConnectedInvalidConfiguration =
    "Not connected to the recorder at '%s'. The recorders configuration for this client is invalid.\n"; // 1208
constexpr const char* AutoSuppressionNotEnabled =
    "\"Audio auto suppression is not enabled for the recorder at '%s'\""; // 135
constexpr const char* AutoSuppressionEnabled =
    "\"Audio auto suppression is enabled for the recorder at '%s', trigger: '%s'\""; // 136

// Record on demand state texts.
constexpr const char* KeepingThisCall = "Keeping This Call";       // 150
constexpr const char* DiscardingThisCall = "Discarding This Call"; // 151
constexpr const char* Unknown = "Unknown";                         // 152
constexpr const char* KeepingAllCalls = "Keeping All Calls";       // 153
constexpr const char* DiscardingAllCalls = "Discarding All Calls"; // 154
constexpr const char* NotAvailable = "Not Available";              // 155
constexpr const char* KeepingNextCall = "Keeping Next Call";       // 156
constexpr const char* DiscardingNextCall = "Discarding Next Call"; // 157

} // namespace strings

// Resource numbers of the status image: its bitmaps, and the call state texts above that
// are its tooltips.
namespace resource {

constexpr unsigned RecordingString = 129;
constexpr unsigned SuppressingString = 130;
constexpr unsigned IdleString = 131;
constexpr unsigned EventFeedUnavailableString = 132;
constexpr unsigned NotConfiguredString = 133;
constexpr unsigned DiscardingString = 134;

constexpr unsigned IdleBitmap = 143;
constexpr unsigned RecordingBitmap = 144;
constexpr unsigned DiscardingBitmap = 145;
constexpr unsigned UnavailableBitmap = 146;
constexpr unsigned SuppressingBitmap = 147;

} // namespace resource
