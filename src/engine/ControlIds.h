// Control ids of the main dialog. Tests, the window and the logic all find a
// control by these numbers.
#pragma once

constexpr int IDC_PHONE_CODE = 1077;
constexpr int IDC_CHANGE_DOWNLOADER = 1087;
constexpr int IDC_PHONE_TEXT = 1082;
constexpr int IDC_BOOTLOADER = 1078;
constexpr int IDC_BOOT_TEXT = 1083;
constexpr int IDC_RESOURCE = 1079;
constexpr int IDC_RESOURCE_TEXT = 1084;
constexpr int IDC_CREATE_RESOURCE = 1126;
constexpr int IDC_QBFS = 1081;
constexpr int IDC_QBFS_TEXT = 1086;
constexpr int IDC_EFS2 = 1080;
constexpr int IDC_EFS_TEXT = 1085;
constexpr int IDC_DOWNLOAD = 1032;
constexpr int IDC_PORT_SEARCH = 1091;
constexpr int IDC_PORT_LIST = 1089;
constexpr int IDC_AUTO_DETECT = 1088;
constexpr int IDC_INPUT_ADDRESS = 1092;
constexpr int IDC_ADDRESS1 = 1093;
constexpr int IDC_ADDRESS2 = 1094;
constexpr int IDC_ADDRESS3 = 1095;
constexpr int IDC_ADDRESS4 = 1096;
constexpr int IDC_ADDRESS5 = 1123;
constexpr int IDC_ENTRY_LABEL = 1075;
constexpr int IDC_ENTRY_SLIDER = 1074;
constexpr int IDC_DOWNLOAD_TYPE_LABEL = 1024;
constexpr int IDC_DOWNLOAD_TYPE = 1015;
constexpr int IDC_ELAPSED = 1053;
constexpr int IDC_FILE_LABEL = 1014;
constexpr int IDC_FILE_PATH = 1005;
constexpr int IDC_SIZE_LABEL = 1026;
constexpr int IDC_SIZE = 1034;
constexpr int IDC_BYTES_LABEL = 1028;
constexpr int IDC_VERSION_LABEL = 1027;
constexpr int IDC_VERSION = 1035;
constexpr int IDC_BUILD_TIME_LABEL = 1029;
constexpr int IDC_BUILD_TIME = 1050;
constexpr int IDC_OPEN = 1006;
constexpr int IDC_ENTRY_COMBO = 1071;
constexpr int IDC_TAB = 1000;

constexpr int IDM_ABOUTBOX = 0x10;
/// The context menu's command that forgets the kept COM numbers.
constexpr int IDM_FORGET_PORTS = 0x20;
/// The context menu's switch between batch and flow mode.
constexpr int IDM_FLOW_MODE = 0x30;

/// Per-entry controls, index = entry index (0..19).
constexpr int kEntryCheckIds[20] = {1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1097, 1105,
                                    1099, 1107, 1101, 1109, 1103, 1111, 1113, 1117, 1115, 1119};
constexpr int kPortLabelIds[20] = {1031, 1046, 1043, 1047, 1044, 1048, 1045, 1049, 1098, 1106,
                                   1100, 1108, 1102, 1110, 1104, 1112, 1114, 1118, 1116, 1120};
constexpr int kProgressIds[20] = {1030, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1121, 1122,
                                  1133, 1134, 1135, 1136, 1137, 1138, 1139, 1140, 1141, 1142};
constexpr int kLogViewIds[20] = {1055, 1056, 1057, 1058, 1061, 1062, 1063, 1064, 1143, 1144,
                                 1145, 1146, 1147, 1148, 1149, 1150, 1151, 1152, 1153, 1154};
constexpr int kStatusIds[20] = {1059, 1060, 1065, 1066, 1067, 1068, 1069, 1070, 1155, 1156,
                                1157, 1158, 1159, 1160, 1161, 1162, 1163, 1164, 1165, 1166};
