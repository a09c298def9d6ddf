// Every error code the controller can report, named once: CHASSIS_ERROR_LIST(X) calls
// X(name, code, "text") for each entry, in the order the error table keeps them. The
// named constants below (err::kSlotOutOfRange and the like) and the table in
// error_table.cpp are both expanded from this one list, so a code and its text cannot
// drift apart. Texts are exactly what clients have always seen, odd blanks and spellings
// included: change neither a text nor the order. Device-specific texts read
// "<SCPI class text> ; <detail>" and are named after the detail. Where two entries share
// a text the names tell them apart; of a command-class and execution-class pair, the
// command-class one carries "Command" in its name.
// Long texts are split into adjacent literals only to stay within the line width.
#pragma once

#include <cstdint>

#define CHASSIS_ERROR_LIST(X)                                                                      \
  /* SCPI standard codes */                                                                        \
  X(kNoError, 0, "No error")                                                                       \
  X(kCommandError, -100, "Command error")                                                          \
  X(kInvalidCharacter, -101, "Invalid character")                                                  \
  X(kSyntaxError, -102, "Syntax error")                                                            \
  X(kInvalidSeparator, -103, "Invalid separator")                                                  \
  X(kDataTypeError, -104, "Data type error")                                                       \
  X(kGetNotAllowed, -105, "GET not allowed")                                                       \
  X(kParameterNotAllowed, -108, "Parameter not allowed")                                           \
  X(kMissingParameter, -109, "Missing parameter")                                                  \
  X(kCommandHeaderError, -110, "Command header error")                                             \
  X(kHeaderSeparatorError, -111, "Header separator error")                                         \
  X(kProgramMnemonicTooLong, -112, "Program mnemonic too long")                                    \
  X(kUndefinedHeader, -113, "Undefined header")                                                    \
  X(kHeaderSuffixOutOfRange, -114, "Header suffix out of range")                                   \
  X(kNumericDataError, -120, "Numeric data error")                                                 \
  X(kInvalidCharacterInNumber, -121, "Invalid character in number")                                \
  X(kExponentTooLarge, -123, "Exponent too large")                                                 \
  X(kTooManyDigits, -124, "Too many digits")                                                       \
  X(kNumericDataNotAllowed, -128, "Numeric data not allowed")                                      \
  X(kSuffixError, -130, "Suffix error")                                                            \
  X(kInvalidSuffix, -131, "Invalid suffix")                                                        \
  X(kSuffixTooLong, -134, "Suffix too long")                                                       \
  X(kSuffixNotAllowed, -138, "Suffix not allowed")                                                 \
  X(kCharacterDataError, -140, "Character data error")                                             \
  X(kInvalidCharacterData, -141, "Invalid character data")                                         \
  X(kCharacterDataTooLong, -144, "Character data too long")                                        \
  X(kCharacterDataNotAllowed, -148, "Character data not allowed")                                  \
  X(kStringDataError, -150, "String data error")                                                   \
  X(kInvalidStringData, -151, "Invalid string data")                                               \
  X(kStringDataNotAllowed, -158, "String data not allowed")                                        \
  X(kBlockDataError, -160, "Block data error")                                                     \
  X(kInvalidBlockData, -161, "Invalid block data")                                                 \
  X(kBlockDataNotAllowed, -168, "Block data not allowed")                                          \
  X(kExpressionCommandError, -170, "Expression error")                                             \
  X(kInvalidExpression, -171, "Invalid expression")                                                \
  X(kExpressionDataNotAllowed, -178, "Expression data not allowed")                                \
  X(kMacroCommandError, -180, "Macro error")                                                       \
  X(kInvalidOutsideMacroDefinition, -181, "Invalid outside macro definition")                      \
  X(kInvalidInsideMacroDefinition, -183, "Invalid inside macro definition")                        \
  X(kMacroParameterCommandError, -184, "Macro parameter error")                                    \
  X(kExecutionError, -200, "Execution error")                                                      \
  X(kInvalidWhileInLocal, -201, "Invalid while in local")                                          \
  X(kSettingsLostDueToRtl, -202, "Settings lost due to rtl")                                       \
  X(kCommandProtected, -203, "Command protected")                                                  \
  X(kTriggerError, -210, "Trigger error")                                                          \
  X(kTriggerIgnored, -211, "Trigger ignored")                                                      \
  X(kArmIgnored, -212, "Arm ignored")                                                              \
  X(kInitIgnored, -213, "Init ignored")                                                            \
  X(kTriggerDeadlock, -214, "Trigger deadlock")                                                    \
  X(kArmDeadlock, -215, "Arm deadlock")                                                            \
  X(kParameterError, -220, "Parameter error")                                                      \
  X(kSettingsConflict, -221, "Settings conflict")                                                  \
  X(kDataOutOfRange, -222, "Data out of range")                                                    \
  X(kTooMuchData, -223, "Too much data")                                                           \
  X(kIllegalParameterValue, -224, "illegal parameter value")                                       \
  X(kOutOfMemory, -225, "Out of memory")                                                           \
  X(kListsNotSameLengths, -226, "Lists not same lengths")                                          \
  X(kDataCorruptOrStale, -230, "Data corrupt or stale")                                            \
  X(kDataQuestionable, -231, "Data questionable")                                                  \
  X(kInvalidFormat, -232, "Invalid format")                                                        \
  X(kInvalidVersion, -233, "Invalid version")                                                      \
  X(kHardwareError, -240, "Hardware error")                                                        \
  X(kHardwareMissing, -241, "Hardware missing")                                                    \
  X(kMassStorageError, -250, "Mass storage error")                                                 \
  X(kMissingMassStorage, -251, "Missing mass storage")                                             \
  X(kMissingMedia, -252, "Missing media")                                                          \
  X(kCorruptMedia, -253, "Corrupt media")                                                          \
  X(kMediaFull, -254, "Media full")                                                                \
  X(kDirectoryFull, -255, "Directory full")                                                        \
  X(kFileNameNotFound, -256, "File name not found")                                                \
  X(kFileNameError, -257, "File name error")                                                       \
  X(kMediaProtected, -258, "Media protected")                                                      \
  X(kExpressionError, -260, "Expression error")                                                    \
  X(kMathErrorInExpression, -261, "Math error in expression")                                      \
  X(kMacroError, -270, "Macro error")                                                              \
  X(kMacroSyntaxError, -271, "Macro syntax error")                                                 \
  X(kMacroExecutionError, -272, "Macro execution error")                                           \
  X(kIllegalMacroLabel, -273, "Illegal macro label")                                               \
  X(kMacroParameterError, -274, "Macro parameter error")                                           \
  X(kMacroDefinitionTooLong, -275, "Macro definition too long")                                    \
  X(kMacroRecursionError, -276, "Macro recursion error")                                           \
  X(kMacroRedefinitionNotAllowed, -277, "Macro redefinition not allowed")                          \
  X(kMacroHeaderNotFound, -278, "Macro header not found")                                          \
  X(kProgramError, -280, "Program error")                                                          \
  X(kCannotCreateProgram, -281, "Cannot create program")                                           \
  X(kIllegalProgramName, -282, "Illegal program name")                                             \
  X(kIllegalVariableName, -283, "Illegal variable name")                                           \
  X(kProgramCurrentlyRunning, -284, "Program currently running")                                   \
  X(kProgramSyntaxError, -285, "Program syntax error")                                             \
  X(kProgramRuntimeError, -286, "Program runtime error")                                           \
  X(kMemoryUseError, -290, "Memory use error")                                                     \
  X(kOutOfNamedMemory, -291, "Out of memory")                                                      \
  X(kReferencedNameDoesNotExist, -292, "Referenced name does not exist")                           \
  X(kReferencedNameAlreadyExists, -293, "Referenced name already exists")                          \
  X(kIncompatibleType, -294, "Incompatible type")                                                  \
  X(kDeviceSpecificError, -300, "Device-specific error")                                           \
  X(kSystemError, -301, "System error")                                                            \
  X(kMemoryError, -311, "Memory error")                                                            \
  X(kPudMemoryLost, -312, "PUD memory lost")                                                       \
  X(kCalibrationMemoryLost, -313, "Calibration memory lost")                                       \
  X(kSaveRecallMemoryLost, -314, "Save/recall memory lost")                                        \
  X(kConfigurationMemoryLost, -315, "Configuration memory lost")                                   \
  X(kSelfTestFailed, -330, "Self-test failed")                                                     \
  X(kQueueOverflow, -350, "Queue overflow")                                                        \
  X(kCommunicationError, -360, "Communication error")                                              \
  X(kParityErrorInProgramMessage, -361, "Parity error in program message")                         \
  X(kFramingErrorInProgramMessage, -362, "Framing error in program message")                       \
  X(kInputBufferOverrun, -363, "Input buffer overrun")                                             \
  X(kQueryError, -400, "Query error")                                                              \
  X(kQueryInterrupted, -410, "Query INTERRUPTED")                                                  \
  X(kQueryUnterminated, -420, "Query UNTERMINATED")                                                \
  X(kQueryDeadlocked, -430, "Query DEADLOCKED")                                                    \
  X(kQueryUnterminatedAfterIndefiniteResponse, -440,                                               \
    "Query UNTERMINATED after indefinite response")                                                \
  /* Internal errors of the engine */                                                              \
  X(kInternalError1, 901, "Internal error #1")                                                     \
  X(kInternalError2, 902, "Internal error #2")                                                     \
  X(kInternalError3, 903, "Internal error #3")                                                     \
  X(kInternalError4, 904, "Internal error #4")                                                     \
  X(kInternalError5, 905, "Internal error #5")                                                     \
  X(kInternalError6, 906, "Internal error #6")                                                     \
  X(kInternalError7, 907, "Internal error #7")                                                     \
  X(kInternalError8, 908, "Internal error #8")                                                     \
  X(kInternalError9, 909, "Internal error #9")                                                     \
  X(kInternalError10, 910, "Internal error #10")                                                   \
  X(kInternalError11, 911, "Internal error #11")                                                   \
  X(kInternalError12, 912, "Internal error #12")                                                   \
  X(kInternalError13, 913, "Internal error #13")                                                   \
  X(kInternalError14, 914, "Internal error #14")                                                   \
  X(kInternalError15, 915, "Internal error #15")                                                   \
  X(kInternalError16, 916, "Internal error #16")                                                   \
  X(kInternalError17, 917, "Internal error #17")                                                   \
  X(kInternalError18, 918, "Internal error #18")                                                   \
  X(kInternalError19, 919, "Internal error #19")                                                   \
  X(kInternalError20, 920, "Internal error #20")                                                   \
  X(kInternalError21, 921, "Internal error #21")                                                   \
  X(kInternalError22, 922, "Internal error #22")                                                   \
  X(kInternalError23, 923, "Internal error #23")                                                   \
  X(kInternalError24, 924, "Internal error #24")                                                   \
  X(kInternalError25, 925, "Internal error #25")                                                   \
  X(kInternalError26, 926, "Internal error #26")                                                   \
  X(kInternalError27, 927, "Internal error #27")                                                   \
  X(kInternalError28, 928, "Internal error #28")                                                   \
  X(kInternalError29, 929, "Internal error #29")                                                   \
  X(kInternalError30, 930, "Internal error #30")                                                   \
  X(kInternalError31, 931, "Internal error #31")                                                   \
  X(kInternalError32, 932, "Internal error #32")                                                   \
  X(kInternalError33, 933, "Internal error #33")                                                   \
  X(kInternalError34, 934, "Internal error #34")                                                   \
  X(kInternalError35, 935, "Internal error #35")                                                   \
  X(kInternalError36, 936, "Internal error #36")                                                   \
  X(kInternalError37, 937, "Internal error #37")                                                   \
  X(kInternalError38, 938, "Internal error #38")                                                   \
  X(kInternalError39, 939, "Internal error #39")                                                   \
  /* Device-specific codes: the leading digits are the SCPI class */                               \
  X(kMissingLeftParenthesis, -10201, "Syntax error ; missing left parenthesis")                    \
  X(kMissingRightParenthesis, -10202, "Syntax error ; missing right parenthesis")                  \
  X(kMissingAtCharacter, -10203, "Syntax error ; missing @ character")                             \
  X(kMissingModuleNumberOrName, -10210, "Syntax error ; missing module number or name")            \
  X(kMissingRelayMode, -10212, "Syntax error ; missing relay mode (IMM, MBB, BBM)")                \
  X(kMissingSeparatorAfterPathName, -10204,                                                        \
    "Syntax error ; missing comma or right parenthesis after path name")                           \
  X(kMissingSeparatorAfterModuleNumber, -10205,                                                    \
    "Syntax error ; missing comma, left parenthesis, or right parenthesis after module number")    \
  X(kErrorAfterModuleOrPathName, -10206, "Syntax error ; error after module name or path name")    \
  X(kMissingChannelNumber, -10207, "Syntax error ; missing channel number")                        \
  X(kMissingSeparatorAfterChannelNumber, -10218,                                                   \
    "Syntax error ; missing comma, right parenthesis, or colon after channel number")              \
  X(kPortListNotAllowed, -10219, "Syntax error ; port list is not allowed")                        \
  X(kMissingOrInvalidPathName, -10220, "Syntax error ; missing or invalid path name")              \
  X(kImproperChannelRange, -10208, "Syntax error ; channel range is improperly specified")         \
  X(kMissingComma, -10209, "Syntax error ; missing comma ")                                        \
  X(kMissingModuleOrPathName, -10211, "Syntax error ; missing module or path name")                \
  X(kImproperModuleRange, -10213, "Syntax error ; module range is improperly specified")           \
  X(kTooManyModules, -10214, "Syntax error ; too many modules specified")                          \
  X(kExpectedNumericData, -10215, "Syntax error ; expected numeric data")                          \
  X(kExpectedTriggerSource, -10216, "Syntax error ; expected trigger source parameter")            \
  X(kExpectedBoolean, -10217, "Syntax error ; expected boolean parameter (ON or OFF)")             \
  X(kChannelNotValid, -22201, "Data out of range ; channel is not valid for module")               \
  X(kRelayNotValid, -22255, "Data out of range ; relay is not valid for module")                   \
  X(kSlotOutOfRange, -22202, "Data out of range ; module number is out of range")                  \
  X(kSequenceGainOutOfRange, -22209, "Data out of range ; SEQuence GAIN value is out of range")    \
  X(kSequenceOffsetOutOfRange, -22210,                                                             \
    "Data out of range ; SEQuence OFFSET value is out of range")                                   \
  X(kSequenceAlarmOutOfRange, -22211,                                                              \
    "Data out of range ; SEQuence ALARMHI/ALARMLO  value is out of range")                         \
  X(kDmmDcvRangeOutOfRange, -22212, "Data out of range ; DMM DCV range is out of range")           \
  X(kDmmDcvResolutionOutOfRange, -22213, "Data out of range ; DMM DCV resolution is out of range") \
  X(kDmmAcvRangeOutOfRange, -22214, "Data out of range ; DMM ACV range is out of range")           \
  X(kDmmAcvResolutionOutOfRange, -22215, "Data out of range ; DMM ACV resolution is out of range") \
  X(kDmm2WireResistanceRangeOutOfRange, -22216,                                                    \
    "Data out of range ; DMM 2-wire resistance range is out of range")                             \
  X(kDmm2WireResistanceResolutionOutOfRange, -22217,                                               \
    "Data out of range ; DMM 2-wire resistance resolution is out of range")                        \
  X(kDmm4WireResistanceRangeOutOfRange, -22218,                                                    \
    "Data out of range ; DMM 4-wire resistance range is out of range")                             \
  X(kDmm4WireResistanceResolutionOutOfRange, -22219,                                               \
    "Data out of range ; DMM 4-wire resistance resolution is out of range")                        \
  X(kDmmExtendedResistanceRangeOutOfRange, -22220,                                                 \
    "Data out of range ; DMM extended resistance range is out of range")                           \
  X(kDmmExtendedResistanceResolutionOutOfRange, -22221,                                            \
    "Data out of range ; DMM extended resistance resolution is out of range")                      \
  X(kDmmDcCurrentRangeOutOfRange, -22222,                                                          \
    "Data out of range ; DMM DC current range is out of range")                                    \
  X(kDmmDcCurrentResolutionOutOfRange, -22223,                                                     \
    "Data out of range ; DC current resolution is out of range")                                   \
  X(kDmmAcCurrentRangeOutOfRange, -22224,                                                          \
    "Data out of range ; DMM AC current range is out of range")                                    \
  X(kDmmAcCurrentResolutionOutOfRange, -22225,                                                     \
    "Data out of range ; DMM AC current resolution is out of range")                               \
  X(kDmmCapacitanceRangeOutOfRange, -22226,                                                        \
    "Data out of range ; DMM capacitance range is out of range")                                   \
  X(kDmmCapacitanceResolutionOutOfRange, -22227,                                                   \
    "Data out of range ; DMM capacitance resolution is out of range")                              \
  X(kDmmAcCapacitanceRangeOutOfRange, -22228,                                                      \
    "Data out of range ; DMM AC capacitance range is out of range")                                \
  X(kDmmAcCapacitanceResolutionOutOfRange, -22229,                                                 \
    "Data out of range ; DMM AC capacitance resolution is out of range")                           \
  X(kDmmInductanceRangeOutOfRange, -22230,                                                         \
    "Data out of range ; DMM inductance range is out of range")                                    \
  X(kDmmInductanceResolutionOutOfRange, -22231,                                                    \
    "Data out of range ; DMM inductance resolution is out of range")                               \
  X(kDmmDiodeRangeOutOfRange, -22232,                                                              \
    "Data out of range ; DMM diode measurement range is out of range")                             \
  X(kDmmDiodeResolutionOutOfRange, -22233,                                                         \
    "Data out of range ; DMM diode measurement resolution is out of range")                        \
  X(kDmmPeriodRangeOutOfRange, -22234,                                                             \
    "Data out of range ; DMM period measurement range is out of range")                            \
  X(kDmmPeriodResolutionOutOfRange, -22235,                                                        \
    "Data out of range ; DMM period measurement resolution is out of range")                       \
  X(kDmmFrequencyRangeOutOfRange, -22236,                                                          \
    "Data out of range ; DMM frequency measurement range is out of range")                         \
  X(kDmmFrequencyResolutionOutOfRange, -22237,                                                     \
    "Data out of range ; DMM frequency measurement resolution is out of range")                    \
  X(kDmmDutyCycleRangeOutOfRange, -22238,                                                          \
    "Data out of range ; DMM duty cycle measurement range is out of range")                        \
  X(kDmmDutyCycleResolutionOutOfRange, -22239,                                                     \
    "Data out of range ; DMM duty cycle measurement resolution is out of range")                   \
  X(kDmmTemperatureRangeOutOfRange, -22240,                                                        \
    "Data out of range ; DMM temperature range is out of range")                                   \
  X(kDmmTemperatureResolutionOutOfRange, -22241,                                                   \
    "Data out of range ; DMM temperature resolution is out of range")                              \
  X(kCalPointNumberOutOfRange, -22242,                                                             \
    "Data out of range ; CALibration:VALue point number is out of range")                          \
  X(kCalIndexNumberOutOfRange, -22252,                                                             \
    "Data out of range ; CALibration:VALue index number is out of range")                          \
  X(kCalValueOutOfRange, -22243, "Data out of range ; CALibration:VALue is out of range")          \
  X(kDmmLeakageCurrentRangeOutOfRange, -22244,                                                     \
    "Data out of range ; DMM leakage current range is out of range")                               \
  X(kDmmLeakageCurrentResolutionOutOfRange, -22245,                                                \
    "Data out of range ; DMM leakage current resolution is out of range")                          \
  X(kAmplitudePlusOffsetOutOfRange, -22246,                                                        \
    "Data out of range ; Amplitude + Offset is out of range")                                      \
  X(kDelayHighRiseFallTimeOutOfRange, -22247,                                                      \
    "Data out of range ; Delay Time + High Time + Rise Time + Fall Time is out of range")          \
  X(kDelayRiseFallTimeOutOfRange, -22248,                                                          \
    "Data out of range ; Delay Time + Rise Time + Fall Time is out of range")                      \
  X(kExponentialWaveZeroExponent, -22249,                                                          \
    "Data out of range ; Exponential wave exponent cannot be zero")                                \
  X(kTraceStartPointOutOfRange, -22250,                                                            \
    "Data out of range ; the start point is less than one or is greater than the size of the "     \
    "TRACE segment")                                                                               \
  X(kTracePointsExceedSegment, -22251,                                                             \
    "Data out of range ; the start point plus the number of data points exceeds the size of the "  \
    "TRACE segment")                                                                               \
  X(kIncompatibleMatrixRelays, -22254,                                                             \
    "Data out of range ; channel list for module contains incompatible relays in one matrix, "     \
    "hardware does not support")                                                                   \
  X(kUnknownNoiseType, -22401, "Illegal parameter value ; the noise type was not recognized")      \
  X(kPathNameInIncludeList, -10221,                                                                \
    "Syntax error ; channel list in INCLUDE command contains a path name")                         \
  X(kPathNameInExcludeList, -10222,                                                                \
    "Syntax error ; channel list in EXCLUDE command contains a path name")                         \
  X(kOpenPathInIncludeList, -10234,                                                                \
    "Syntax error ; channel list in INCLUDE command contains a path that has an OPEN channel "     \
    "list")                                                                                        \
  X(kOpenPathInExcludeList, -10235,                                                                \
    "Syntax error ; channel list in EXCLUDE command contains a path that has an OPEN channel "     \
    "list")                                                                                        \
  X(kDataListSizeMismatch, -10236,                                                                 \
    "Syntax error; size of data list does not equal to size of channel list")                      \
  X(kSingleChannelOnly, -10242, "Syntax error; command requires a single channel only")            \
  X(kPathNotSupported, -10223, "Syntax error ; path is not supported by command")                  \
  X(kMissingSequenceName, -10224, "Syntax error ; missing sequence name")                          \
  X(kInvalidSequenceStep, -10226, "Syntax error ; invalid sequence step")                          \
  X(kInvalidSequenceStepLabel, -10227, "Syntax error ; invalid label in sequence step")            \
  X(kMultipleCommandsInStep, -10228,                                                               \
    "Syntax error ; SEQUENCE:STEP does not support multiple commands")                             \
  X(kTrailingCharactersInStep, -10229,                                                             \
    "Syntax error ; trailing characters following valid SEQUENCE:STEP")                            \
  X(kInvalidSetKeyword, -10230, "Syntax error ; invalid keyword following 'SET' in SEQUENCE:STEP") \
  X(kMissingSetEquals, -10231, "Syntax error ; missing '=' in SEQUENCE:STEP 'SET' statement")      \
  X(kMissingSetValue, -10232,                                                                      \
    "Syntax error ; missing value following '=' in SEQUENCE:STEP 'SET' statement")                 \
  X(kSetUnitsTooLong, -10233,                                                                      \
    "Syntax error ; UNITS string in SEQUENCE:STEP 'SET UNITS = ' statement is too long")           \
  X(kMissingOrInvalidModuleName, -10237, "Syntax error ; module name is missing or invalid")       \
  X(kLocalBusAddressNotValid, -10238, "Data out of range ; local bus address not valid")           \
  X(kNotAllPortsSynchronous, -10239,                                                               \
    "Execution error ; command requires all synchronous digital ports but not all ports are")      \
  X(kNotAllPortsAsynchronous, -10240,                                                              \
    "Execution error ; command requires all asynchronous digital ports but not all ports are")     \
  X(kSyncPointsOnOutputPort, -10241,                                                               \
    "Execution error ; DIGITAL:SYNC:POINTS command is not valid on output ports")                  \
  X(kInvalidStateNumber, -22203, "Data out of range ; invalid state number")                       \
  X(kUnknownRelayModuleType, -30001, "Unknown relay module type")                                  \
  X(kNoModule, -30002, "Device-specific error ; no module at specified module address")            \
  X(kIncludeListTooShort, -20001, "Execution error ; include list has less than 2 elements")       \
  X(kExcludeListTooShort, -20002, "Execution error ; exclude list has less than 2 elements")       \
  X(kRelaysOnIncludeAndExclude, -20003,                                                            \
    "Execution error ; 2 relays appear on both include and exclude lists")                         \
  X(kPathChannelOnOpenAndCloseLists, -20035,                                                       \
    "Execution error ; path contains one or more channels that appear on both open and close "     \
    "lists")                                                                                       \
  X(kNotSupportedByCard, -20036,                                                                   \
    "Execution error ; command is not supported by card in specified slot")                        \
  X(kDmmFunctionNotSupported, -20100,                                                              \
    "Execution error ; the requested measurement function is not supported by the DMM")            \
  X(kInvalidPassword, -20101, "Execution error ; the password specified is not valid")             \
  X(kDmmNotInTotalizeMode, -20102,                                                                 \
    "Execution error ; DMM TOTalize START or STOP command executed when DMM is not in totalize "   \
    "mode")                                                                                        \
  X(kDmmCalFileNotFound, -20103, "Execution error ; cannot find valid DMM calibration file")       \
  X(kDmmHighSpeedGuardCrossingError, -20104,                                                       \
    "Execution error ; DMM high speed guard crossing error")                                       \
  X(kDmmNotInitialized, -20105, "Execution error ; DMM has not been initialized")                  \
  X(kDmmNotResponding, -20106, "Execution error ; DMM is not responding")                          \
  X(kDmmNotFoundOnPci, -20107, "Execution error ; DMM was not found on PCI bus")                   \
  X(kDmmCalRecordNotFound, -20108, "Execution error ; DMM cannot find valid calibration record")   \
  X(kDmmAdNotResponding, -20109, "Execution error ; DMM A/D is not responding")                    \
  X(kDmmHardwareInitFailed, -20110, "Execution error ; DMM hardware initialization failure")       \
  X(kDmmCalRecordNotFound2, -20111, "Execution error ; DMM cannot find valid calibration record")  \
  X(kDmmCalRecordNotFound3, -20112, "Execution error ; DMM cannot find valid calibration record")  \
  X(kDmmTriggerCircuitError, -20113, "Execution error ; DMM trigger circuit error")                \
  X(kDmmMicroprocessorCommFailure, -20114,                                                         \
    "Execution error ; DMM microprocessor communication failure")                                  \
  X(kDmmProcessTimedOut, -20115, "Execution error ; DMM process timed out error")                  \
  X(kDmmGuardCrossingBroken, -20116, "Execution error ; DMM guard crossing is broken")             \
  X(kDmmMicrocontrollerCommError, -20117,                                                          \
    "Execution error ; DMM microcontroller communication error")                                   \
  X(kDmmCommOverrun, -20118, "Execution error ; DMM communication overrun")                        \
  X(kDmmCommFrameError, -20119, "Execution error ; DMM communication frame error")                 \
  X(kDmmCommFifoError, -20120, "Execution error ; DMM communication FIFO error")                   \
  X(kDmmCommParityError, -20121, "Execution error ; DMM communication parity error")               \
  X(kWrongDmmCalRecord, -20122, "Execution error ; wrong calibration record for DMM type")         \
  X(kDmmFirmwareUnsupportedOperation, -20123,                                                      \
    "Execution error ; DMM MCU firmware does not support operation")                               \
  X(kCannotOpenDmmPciDevice, -20124, "Execution error ; cannot open DMM PCI device")               \
  X(kDmmPciItemsMissing, -20125, "Execution error ; DMM card does not have all PCI items")         \
  X(kDmmGeneralError, -20126, "Execution error ; DMM general error")                               \
  X(kDmmHighSpeedOutguardFault, -20127,                                                            \
    "Execution error ; DMM high speed out guard not operating properly")                           \
  X(kDmmCalRecordReadError, -20128,                                                                \
    "Execution error ; DMM error reading calibration record from local storage")                   \
  X(kDmmCannotCreateCalFile, -20129, "Execution error ; DMM cannot create calibration file")       \
  X(kDmmCannotOpenCalFile, -20130,                                                                 \
    "Execution error ; DMM cannot open calibraiton file to read calibration record")               \
  X(kDmmOutguardLoopbackFailure, -20131,                                                           \
    "Execution error ; DMM outguard local loopback communication test failure")                    \
  X(kMonitorListRecallFailed, -20044, "Execution error ; RECall of ROUTe:MONitor list failed")     \
  X(kRecalledMonitorListBadChannel, -20045,                                                        \
    "Execution error ; error in channel list specified in recalled ROUTe:MONitor list")            \
  X(kMonitorListStoreFailed, -20046,                                                               \
    "Execution error ; attempt to store ROUTe:MONitor list failed")                                \
  X(kScanAlarmWithoutScanList, -20047,                                                             \
    "Execution error ; SCAN is selected as an ALARM source but no scan list is defined")           \
  X(kScanListRecallFailed, -20060, "Execution error ; RECall of SCAN list failed")                 \
  X(kRecalledScanListBadChannel, -20061,                                                           \
    "Execution error ; error in channel list specified in recalled SCAN list")                     \
  X(kScanListStoreFailed, -20062, "Execution error ; attempt to store SCAN list failed")           \
  X(kScanListSequenceNotDefined, -20063,                                                           \
    "Execution error ; A sequence associated with a channel or path on the SCAN list is not "      \
    "defined")                                                                                     \
  X(kIncludeListRecallFailed, -20048, "Execution error ; RECall of INCLUDE list failed")           \
  X(kRecalledIncludeListBadChannel, -20049,                                                        \
    "Execution error ; error in channel list specified in recalled ROUTe:INCLude list")            \
  X(kIncludeListStoreFailed, -20050,                                                               \
    "Execution error ; attempt to store ROUTe:INCLude list failed")                                \
  X(kExcludeListRecallFailed, -20051, "Execution error ; RECall of EXCLUDE list failed")           \
  X(kRecalledExcludeListBadChannel, -20052,                                                        \
    "Execution error ; error in channel list specified in recalled ROUTe:EXCLude list")            \
  X(kExcludeListStoreFailed, -20053,                                                               \
    "Execution error ; attempt to store ROUTe:EXCLude list failed")                                \
  X(kSaveStateFailed, -20054, "Execution error ; storage of state in *SAV command failed")         \
  X(kRecallStateNotSaved, -20055,                                                                  \
    "Execution error ; the *RCL state could not be recalled because it has not been saved with "   \
    "*SAV command")                                                                                \
  X(kRecallStateFailed, -20056, "Execution error ; *RCL state failed")                             \
  X(kRecallStateCardChanged, -20057,                                                               \
    "Execution error ; *RCL failed because installed card is different model than when state "     \
    "was saved")                                                                                   \
  X(kPathRecallFailed, -20058, "Execution error ; PATH:RECALL failed")                             \
  X(kPathStoreFailed, -20059, "Execution error ; PATH:STORE failed")                               \
  X(kModuleNamesRecallFailed, -20097,                                                              \
    "Execution error ; reacll of module names from nonvolatile memoryfailed")                      \
  X(kModuleNamesStoreFailed, -20098,                                                               \
    "Execution error ; storage of module names to nonvolatile memory failed")                      \
  X(kEventListStoreFailed, -20064,                                                                 \
    "Execution error ; attempt to store event list to nonvolatile memory failed")                  \
  X(kEventListRecallFailed, -20065,                                                                \
    "Execution error ; attempt to recall event list from nonvolatile memory failed")               \
  X(kFetchNoData, -20066, "Execution error ; attempt to FETCH data when no data is available")     \
  X(kFirstDataPointTooLarge, -20067,                                                               \
    "Execution error ; the specified first data point in FETCH query is greater than the number "  \
    "of data points stored")                                                                       \
  X(kArbCalNeeds50OhmLoad, -20069,                                                                 \
    "Execution error ; ARB output must have 50ohm load connected for calibration")                 \
  X(kLastDataPointTooLarge, -20068,                                                                \
    "Execution error ; the specified last data point is greater than the number of data points "   \
    "stored")                                                                                      \
  X(kCalledSequenceUnknown, -20039,                                                                \
    "Execution error ; the CALLed sequence name was not recognized")                               \
  X(kInvalidSequenceWaitTime, -20040, "Execution error ; invalid sequence WAIT time")              \
  X(kSequenceDefinitionInProgress, -20037,                                                         \
    "Execution error ; SEQuence:DEFine or SEQuence:DELete statement sent when a sequence "         \
    "definition is already in progress")                                                           \
  X(kNoSequenceDefinitionInProgress, -20038,                                                       \
    "Execution error ; SEQuence:STEP or SEQuence:END command sent when no sequence definition "    \
    "is in progress")                                                                              \
  X(kSequenceLabelNotFound, -20041,                                                                \
    "Execution error ; SEQuence label in GOTO statement was not found in the sequence")            \
  X(kSequenceNotFound, -20042,                                                                     \
    "Execution error ; SEQuence name referenced in command or query was not found")                \
  X(kSequenceInChannelListNotSupported, -20024,                                                    \
    "Execution error ; command does not support sequences in the channel list")                    \
  X(kSequenceCallTooDeep, -20043,                                                                  \
    "Execution error ; SEQuence CALL tree is too deep (maximum = 40)")                             \
  X(kRelayAlreadyIncluded, -20004,                                                                 \
    "Execution error ; one of the relays specified is already on an include list")                 \
  X(kRelayAlreadyExcluded, -20005,                                                                 \
    "Execution error ; one of the relays specified is already on an exclude list")                 \
  X(kClockMalfunction, -20006, "Execution error ; the clock has malfunctioned")                    \
  X(kConfidenceError, -20007, "Execution error ; confidence mode failure")                         \
  X(kConfidenceErrorSlot1, -20081,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 1")                            \
  X(kConfidenceErrorSlot2, -20082,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 2")                            \
  X(kConfidenceErrorSlot3, -20083,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 3")                            \
  X(kConfidenceErrorSlot4, -20084,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 4")                            \
  X(kConfidenceErrorSlot5, -20085,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 5")                            \
  X(kConfidenceErrorSlot6, -20086,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 6")                            \
  X(kConfidenceErrorSlot7, -20087,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 7")                            \
  X(kConfidenceErrorSlot8, -20088,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 8")                            \
  X(kConfidenceErrorSlot9, -20089,                                                                 \
    "Execution error ; confidence mode failure for the card in slot 9")                            \
  X(kConfidenceErrorSlot10, -20090,                                                                \
    "Execution error ; confidence mode failure for the card in slot 10")                           \
  X(kConfidenceErrorSlot11, -20091,                                                                \
    "Execution error ; confidence mode failure for the card in slot 11")                           \
  X(kConfidenceErrorSlot12, -20092,                                                                \
    "Execution error ; confidence mode failure for the card in slot 12")                           \
  X(kEpromCorrupt, -20093, "Execution error ; plug-in module EEPROM is corrupt")                   \
  X(kNonvolWriteFailed, -20008, "Execution error ; could not write to NONVOL")                     \
  X(kVerifyMasksRecallFailed, -20094, "Execution error ; recall of the verify masks failed")       \
  X(kVerifyMasksPartlyRecalled, -20095,                                                            \
    "Execution error ; not all of the verify masks have been recalled because the system "         \
    "configuration has changed since the last save of verify masks was performed")                 \
  X(kVerifyMasksStoreFailed, -20096, "Execution error ; storage of the verify masks failed")       \
  X(kNonvolPathMismatch, -20009,                                                                   \
    "Execution error ; path recalled from NONVOL does not match relay card configuration")         \
  X(kNonvolStateCorrupt, -20010,                                                                   \
    "Execution error ; state data in NONVOL is corrupt or not present")                            \
  X(kNonvolVerifyMaskRecallStateCorrupt, -20028,                                                   \
    "Execution error ; verify mask recall state in NONVOL is corrupt or not present")              \
  X(kNonvolPathPowerUpStateCorrupt, -20029,                                                        \
    "Execution error ; path power-up recall state in NONVOL is corrupt or not present")            \
  X(kNonvolVerifyMaskDataCorrupt, -20030,                                                          \
    "Execution error ; verify mask data in NONVOL is corrupt or not present")                      \
  X(kNonvolStateMismatch, -20011,                                                                  \
    "Execution error ; state in NONVOL does not match present relay card configuration")           \
  X(kNonvolExcludeListMismatch, -20031,                                                            \
    "Execution error ; exclude list in NONVOL does not match present relay card configuration")    \
  X(kNonvolIncludeListMismatch, -20032,                                                            \
    "Execution error ; include list in NONVOL does not match present relay card configuration")    \
  X(kNonvolExcludeListCorrupt, -20033,                                                             \
    "Execution error ; exclude list data in NONVOL is corrupt or not present")                     \
  X(kNonvolIncludeListCorrupt, -20034,                                                             \
    "Execution error ; include list data in NONVOL is corrupt or not present")                     \
  X(kNonvolPathDataCorrupt, -20012,                                                                \
    "Execution error ; path data in NONVOL is corrupt or not present")                             \
  X(kNonvolNotInitialized, -20013, "Execution error ; NONVOL has not been initialized")            \
  X(kNonvolModuleNamesCorrupt, -20014,                                                             \
    "Execution error ; module name data in NONVOL is corrupt or not present")                      \
  X(kNonvolSerialNumberCorrupt, -20015, "Execution error ; serial number in NONVOL is corrupt")    \
  X(kModeNotSupported, -20016,                                                                     \
    "Execution error ; the switch module does not support the specified mode (BBM, MBB, or IMM)")  \
  X(kEpromConsistencyCheckCorrupt, -20017,                                                         \
    "Execution error ; relay module EPROM consistency check function is corrupt")                  \
  X(kRelayChannelsOnly, -20018,                                                                    \
    "Execution error ; this command supports only relay channels and the channel list included "   \
    "a non-relay channel")                                                                         \
  X(kTriggerOutputAsOwnInput, -20019,                                                              \
    "Execution error ; a trigger output cannot be selected as its own input")                      \
  X(kEpromUpdateFunctionCorrupt, -20020,                                                           \
    "Execution error ; relay module EPROM update hardware function is corrupt")                    \
  X(kRelayModuleEpromCorrupt, -20021, "Execution error ; relay module EPROM is corrupt")           \
  X(kExcludeListClearWhileEnabled, -20070,                                                         \
    "Execution error ; channel's exclude list can not be cleared when exclude state for module "   \
    "is enabled")                                                                                  \
  X(kCalDataRecallFailed, -20022,                                                                  \
    "Execution error ; could not recall calibration data from nonvolatile memory")                 \
  X(kInvalidDigitalArmState, -30003, "Device-specific error ; the digital arm state is invalid")   \
  X(kNotDigitalModule, -30004, "Device-specific error ; the module is not a digital I/O module")   \
  X(kInvalidIndex, -22204, "Data out of range ; the index is not valid")                           \
  X(kInvalidPointCount, -22206, "Data out of range ; the number of points is not valid")           \
  X(kInvalidDataByte, -22207, "Data out of range ; the data byte value is not valid")              \
  X(kResolutionTooPrecise, -22208,                                                                 \
    "Data out of range ; the resolution specified is too precise for the specified range")         \
  X(kUnarmedDigitalModule, -30005,                                                                 \
    "Device-specific error ; unarmed digital I/O module in synchronous test")                      \
  X(kScanSequenceDoesNotExist, -20023,                                                             \
    "Execution error ; the sequence associated with a channel or path in the scan list does not "  \
    "exist")                                                                                       \
  X(kPortOutOfRange, -22205, "Data out of range ; port number is out of range")                    \
  X(kDeletePathOnScanList, -30007,                                                                 \
    "Execution error ; cannot delete path name(s) because path is specified on scan list")         \
  X(kExternalResetActive, -30008,                                                                  \
    "Device-specific error ; external RESET prevents execution of command or operation")           \
  X(kOperationCompleteTimeout, -30009,                                                             \
    "Device-specific error ; timeout waiting for operation complete")                              \
  X(kReadFromSyncOutputPort, -23101,                                                               \
    "Data questionable ; cannot read from synchronous output port")                                \
  X(kSyncIndexNotValid, -23102,                                                                    \
    "Execution error ; Sync Index command not valid for input ports or armed synchronous ports")   \
  X(kSyncDataNotValid, -23103, "Execution error ; Sync Data command not valid for input ports")    \
  X(kNoSyncPoints, -23104,                                                                         \
    "Execution error ; cannot set sync state as there are no points on any of the sync channels")  \
  X(kOpticalSwitchMalfunction, -20025, "Execution error ; optical switch module malfunctioned")    \
  X(kOpticalSwitchMoving, -22101,                                                                  \
    "Settings conflict ; attempt to change optical switch position while moving")                  \
  X(kSlotOwnClockSource, -22102, "Settings conflict ; a slot cannot be its own clock source")      \
  X(kDmmTerminalMultipleBuses, -22103,                                                             \
    "Settings conflict ; cannot connect a DMM source, input, or guard terminal to more than one "  \
    "analog bus or to each other")                                                                 \
  X(kArbBusVoltageDetected, -22104,                                                                \
    "Settings conflict ; cannot connect ARB output due to a voltage detected on the selected "     \
    "analog bus")                                                                                  \
  X(kIllegalIdByte, -30010,                                                                        \
    "Device-specific error ; the extended ID byte register value is illegal (255)")                \
  X(kPreventedByInternalError, -30011,                                                             \
    "Device-specific error ; an internal error has prevented execution of the command or query")   \
  X(kSequencerRamMapFailed, -30012,                                                                \
    "Device-specific error ; cannot memory map sequencer RAM into process space")                  \
  X(kNonvolDirectoryCreateFailed, -30013,                                                          \
    "Device-specifiec error ; cannot create directory in the nonvolatile memory storage")          \
  X(kFpgaIoError, -30014,                                                                          \
    "Device-specifiec error ; an error occurred during an I/O operation with the FPGA interface")  \
  X(kNonvolUpdateInProgress, -204, "Execution error; non-volatile memory update in progress")      \
  X(kEmergencyShutdownActive, -30042,                                                              \
    "Device-specific error; card operation cannot be performed because the emergency shutdown "    \
    "is active for one or mode cards")                                                             \
  X(kInterlockDisabled, -30043,                                                                    \
    "Device-specific error; card relay operation cannot be performed because the analog bus "      \
    "relay safety interlock is disabled")                                                          \
  X(kInterlockDisabledSlot1, -30044,                                                               \
    "Device-specific error; slot 1 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot2, -30045,                                                               \
    "Device-specific error; slot 2 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot3, -30046,                                                               \
    "Device-specific error; slot 3 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot4, -30047,                                                               \
    "Device-specific error; slot 4 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot5, -30048,                                                               \
    "Device-specific error; slot 5 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot6, -30049,                                                               \
    "Device-specific error; slot 6 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot7, -30050,                                                               \
    "Device-specific error; slot 7 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot8, -30051,                                                               \
    "Device-specific error; slot 8 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kInterlockDisabledSlot9, -30052,                                                               \
    "Device-specific error; slot 9 module relay operation cannot be performed because the "        \
    "analog bus relay safety interlock is disabled")                                               \
  X(kTraceSegmentNotDefined, -30053,                                                               \
    "Device-specific error; the segment specified in the command or query has not been defined "   \
    "with a TRACe:DEFine command")                                                                 \
  X(kSequenceStepBeyondSize, -30054,                                                               \
    "Device-specific error; the sequence step referenced is greater than the size of the "         \
    "defined sequence with SEQuence:DEFine:SIZE command")                                          \
  X(kOutputSequenceNotDefined, -30055,                                                             \
    "Device-specific error; sequence cannot be output because it is not defined")                  \
  X(kOffsetExceedsWaveform, -30056,                                                                \
    "Device-specific error; the offset specified in the command or query exceeds the waveform "    \
    "size")                                                                                        \
  X(kArbMemoryNotReleased, -30057,                                                                 \
    "Device-specific error; arbitrary waveform memory not released")                               \
  X(kArbMemorySizeExceeded, -30058,                                                                \
    "Device-specific error; arbitrary waveform memory size exceeded")                              \
  X(kCannotGenerateStandardWaveform, -30059,                                                       \
    "Device-specific error; unable to generate standard waveform with current settings")           \
  X(kCannotGenerateSampleClock, -30060,                                                            \
    "Device-specific error; unable to generate internal sample clock with current settings")       \
  X(kCannotGenerateSweep, -30061,                                                                  \
    "Device-specific error; unable to generate horizontal sweep on specified channel")             \
  X(kSegmentAlreadyDefined, -30062,                                                                \
    "Device-specific error; waveform segment number already defined")                              \
  X(kSegmentSizeOdd, -30063,                                                                       \
    "Device-specific error; waveform segment size must be an even number")                         \
  X(kInvalidSequenceMode, -30064,                                                                  \
    "Device-specific error; the sequence mode specified in the command is invalid")                \
  X(kInvalidSequenceAdvanceSource, -30065,                                                         \
    "Device-specific error; the sequence advance source specified in the command is invalid")      \
  X(kInvalidSequenceLoopCount, -30066,                                                             \
    "Device-specific error; the sequence loop count specified in the command is invalid")          \
  X(kInvalidSequenceJumpSource, -30067,                                                            \
    "Device-specific error; the sequence jump source specified in the command is invalid")         \
  X(kInvalidSequenceJumpStep, -30068,                                                              \
    "Device-specific error; the sequence jump step specified in the command is invalid")           \
  X(kNoSequenceDefined, -30069, "Device-specific error; a sequence has not been defined")          \
  X(kTriangleSweepFrequencyTooHigh, -30071,                                                        \
    "Device-specific error; the sweep start and stop frequency must be less than 12.5 MHz for "    \
    "triangle sweeps")                                                                             \
  X(kSweepStartNotBelowStop, -30070,                                                               \
    "Device-specific error; the sweep start frequency must be less than the stop frequency")       \
  X(kInvalidSweepStepDuration, -30072,                                                             \
    "Device-specific error; the specified sweep time and steps produces an invalid step duration") \
  X(kSweepMemoryOverflow, -30073,                                                                  \
    "Device-specific error; the specified sweep settings causes a waveform memory overflow")       \
  X(kPointsExceedWaveform, -30074,                                                                 \
    "Device-specific error; the specified number of points and offset exceeds the number of "      \
    "samples in the waveform")                                                                     \
  X(kStartPointNotOdd, -30075,                                                                     \
    "Device-specific error; the start point specified in the command or query must be an odd "     \
    "number")                                                                                      \
  X(kPointCountNotEven, -30076,                                                                    \
    "Device-specific error; the number of points specified in the command or query must be an "    \
    "even number")                                                                                 \
  X(kRasterClockExternal, -30077,                                                                  \
    "Device-specifc error; one or more channels has the raster clock source set to external")      \
  X(kRasterReferenceClockExternal, -30078,                                                         \
    "Device-specifc error; one or more channels has the raster reference clock source set to "     \
    "external")                                                                                    \
  X(kCannotAllocateArbMemory, -30079,                                                              \
    "Device-specifc error; cannot allocate ARB memory size for specified trace segment")           \
  X(kCannotSetAttenuation, -30080,                                                                 \
    "Device-specifc error; unable to set attenuation with current amplitude/offset setting")       \
  X(kInvalidForDioDirection, -30090,                                                               \
    "Device-specific error; invalid command due to DIO channel's configured direction")            \
  X(kDigitalWidthNotSupported, -30091,                                                             \
    "Device-specific error; digital channel width is not currently supported")                     \
  X(kMemoryFull, -30083, "Device-specific error; memory full")                                     \
  X(kExceedsMemorySize, -30081, "Device-specific error; exceeds memory size")                      \
  X(kTraceInProgress, -30082, "Device-specific error; trace is in progress")                       \
  X(kNotSupportedByChannel, -20071,                                                                \
    "Execution error; command is not supported by channel of specified module")                    \
  X(kDioMemoryAccessNotAllowed, -30092,                                                            \
    "Execution error; DIO memory access not allowed in current state")                             \
  X(kDigitizerInitFailed, -30093, "Execution error ; digitizer initialization failed")             \
  X(kDigitizerIoFailed, -30094, "Execution error ; digitizer I/O operation failed")                \
  X(kDigitizerInvalidResponse, -30095, "Execution error ; digitizer returned invalid response")    \
  X(kDigitizerArmed, -30096,                                                                       \
    "Execution error ; digitizer is armed so it cannot be re-armed or configured")                 \
  X(kTriggerLevelOutsideWindow, -30097,                                                            \
    "Execution error ; the trigger level is outside the valid window (Offset - Range) to "         \
    "(Offset + Range)")                                                                            \
  X(kTriggerDelayOutOfRange, -22105,                                                               \
    "Settings conflict ; the trigger delay is outside the range of +/- (1/2 x sweep time)")        \
  X(kTriggerLevelOutOfRange, -22106,                                                               \
    "Settings conflict ; the trigger level is outside of the range supported by the trigger "      \
    "channel")                                                                                     \
  X(kCalValueWhileCalStateOff, -22107,                                                             \
    "Settings conflict ; the CALibration:VALue command cannot be used when the "                   \
    "CALibration:STATE is OFF")                                                                    \
  X(kFiftyOhmInputRangeTooHigh, -22108,                                                            \
    "Settings conflict ; the 50 ohm impedance can be selected only for input ranges 8V and less")  \
  X(kScanPositionWhileArmed, -30098,                                                               \
    "Execution error ; cannot read scan list position because the sequencer is armed and no "      \
    "QX7700 cards are installed")                                                                  \
  X(kSequencerMemoryOverflow, -30099,                                                              \
    "Execution error ; the scan list and/or sequence has overflowed the available sequencer "      \
    "memory")                                                                                      \
  X(kDataBufferOverflow, -10243,                                                                   \
    "Execution error ; cannot add data to the data list as it will overflow the data buffer size") \
  X(kDigitizerCalDataInvalidChannel1, -3000001,                                                    \
    "Execution error ; the digitizer calibration data for channel 1 is not valid")                 \
  X(kDigitizerCalDataInvalidChannel2, -3000002,                                                    \
    "Execution error ; the digitizer calibration data for channel 2 is not valid")                 \
  X(kNotImplemented, -999, "Error: method not implemented yet")

namespace err {

#define CHASSIS_ERROR_CONSTANT(name, code, text) inline constexpr int32_t name = code;
CHASSIS_ERROR_LIST(CHASSIS_ERROR_CONSTANT)
#undef CHASSIS_ERROR_CONSTANT

}  // namespace err
