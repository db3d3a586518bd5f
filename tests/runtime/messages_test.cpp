// The text tables: every code has a text, the texts users have been promised are exact, and
// script-registered texts and unknown codes read as they should.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "runtime/messages.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::ErrorText;
using qv::testing::RuntimeTest;

struct Quoted {
    uint32_t number;  // an error code from 1000 on, else a message number
    const char* text;
};

// The texts the design quotes, verbatim.
constexpr Quoted kQuoted[] = {
    {13, "Out of memory!"},
    {91, "Unknown error code!"},
    {92, "current line"},
    {95, "done"},
    {97, "Opening script %s"},
    {106, "Compiling script"},
    {107, "Loading plugin %s"},
    {108, "failed"},
    {194, "File"},
    {195, "skipped"},
    {280, "In function"},
    {286, "Opening file %s"},
    {287, "Loading applet %s"},
    {402, "Error"},
    {584, "Arguments controlling the window style:"},
    {585, "Arguments controlling full screen mode:"},
    {586, "Arguments controlling backfill style:"},
    {587, "Arguments controlling the compiler:"},
    {589, "Arguments controlling the scaling engine:"},
    {590, "Miscellaneous arguments:"},
    {616, "(Reason: %s)\n"},
    {648, "Arguments for obtaining information about native functionality:"},
    {1000, "Out of memory!"},
    {1003, "User abort!"},
    {1014, "Not enough arguments!"},
    {1018, "General syntax error!"},
    {1024, "Value expected!"},
    {1025, "Cannot open %s !"},
    {1030, "Wrong operator for this type!"},
    {1040, "Return without Gosub!"},
    {1041, "Requested object not found!"},
    {1042, "Constant not found!"},
    {1045, "Cannot read file %s !"},
    {1052, "Cannot write to file %s !"},
    {1055, "Wrong usage/parameters for this command!\nRead the documentation!"},
    {1056, "This command cannot be used when SelectBGPic() is active!"},
    {1060, "Wrong arguments specified!"},
    {1066, "Internal limit encountered! Contact the author..."},
    {1076, "Invalid seek position specified!"},
    {1078, "This function requires enabled layers!"},
    {1081, "Specified layer is out of range!"},
    {1082, "This command cannot be used when SelectBrush() is active!"},
    {1084, "Error creating directory %s !"},
    {1085, "Unable to change display size to %s !"},
    {1086, "You cannot specify an initial BGPic together with DISPLAYDESKTOP!"},
    {1089, "Division by zero!"},
    {1094, "Specified animation frame is out of range!"},
    {1108, "Closing square bracket expected!"},
    {1130, "Attempt to compare a number with a string!"},
    {1131, "Wrong data types for concatenation!"},
    {1132, "Table %s not found!"},
    {1133, "Function %s not found!"},
    {1134, "Internal limit reached! Error code %s."},
    {1135, "Stack overflow!"},
    {1138, "Number expected in argument %ld!"},
    {1139, "String expected in argument %ld!"},
    {1140, "Table expected in argument %ld!"},
    {1141, "File was opened in read-only mode!"},
    {1142, "File was opened in write-only mode!"},
    {1143, "Could not delete file!"},
    {1144, "Could not examine %s!"},
    {1147, "This command cannot be used when SelectMask() is active!"},
    {1149, "Attempt to modify the active brush!"},
    {1152, "Could not lock bitmap!"},
    {1154, "Negative coordinates are not allowed here!"},
    {1155, "Specified layer is not an anim layer!"},
    {1159, "Table field %s was not initialized!"},
    {1161, "Layer name was already assigned!"},
    {1162, "Layers must be turned off when using this function!"},
    {1163, "Layers cannot be turned on/off while off-screen rendering is active!"},
    {1167, "This command cannot be used when SelectAlphaChannel() is active!"},
    {1168, "Specified pixel is out of range!"},
    {1174, "Could not find brush %ld!"},
    {1175, "Could not find text object %ld!"},
    {1177, "Could not find BGPic %ld!"},
    {1179, "Could not find file handle %ld!"},
    {1180, "Could not find memory block %ld!"},
    {1181, "Could not find timer %ld!"},
    {1182, "Could not find move queue %ld!"},
    {1183, "String or number expected in argument %ld!"},
    {1184, "Invalid percent format in argument %ld!"},
    {1185, "Function expected in argument %ld!"},
    {1187, "This operator cannot be used here!"},
    {1188, "Could not find button %ld!"},
    {1189, "Number expected in table argument \"%s\"!"},
    {1190, "Callback function was expected to return a number!"},
    {1191, "A BGPic needs to be active while calling button functions!"},
    {1193, "Too many arguments for this function!"},
    {1194, "Could not find interval function %ld!"},
    {1195, "Could not find timeout function %ld!"},
    {1198, "Unexpected end of file!"},
    {1199, "Virtual machine data type mismatch!"},
    {1200, "Bad integer in bytecode!"},
    {1201, "Bad upvalues in bytecode!"},
    {1202, "Bad constant type in bytecode!"},
    {1203, "Bad bytecode!"},
    {1204, "Bad bytecode signature!"},
    {1205, "Unknown number format in bytecode!"},
    {1206, "Invalid key for next table item!"},
    {1207, "Table overflow!"},
    {1208, "Table index is NaN!"},
    {1209, "This applet requires at least Quorvella %s!"},
    {1210, "Unknown section in applet!"},
    {1211, "%s is no Quorvella applet!"},
    {1212, "Compilation is not possible with QuorvellaPlayer!"},
    {1213, "File %s does not exist!"},
    {1215, "Could not find clip region %ld!"},
    {1217, "Specified coordinates are out of range!"},
    {1218, "Width/height values must be greater than 0!"},
    {1219, "Could not find sprite %ld!"},
    {1220, "Sprite %ld is not on screen!"},
    {1223, "Mask and alpha channel are mutually exclusive!"},
    {1224, "Please remove all sprites first!"},
    {1227, "Cannot modify a sprite that is on screen!"},
    {1228, "Cannot modify a linked sprite!"},
    {1229, "Please end double buffering first!"},
    {1230, "Double buffering is currently not supported for transparent displays!"},
    {1242, "Cannot read beyond end of file!"},
    {1243, "Wrong backfill configuration!"},
    {1244, "Double buffering mode is not currently active!"},
    {1245, "Specified length exceeds string length!"},
    {1246, "An error occurred while processing the gfx cache!"},
    {1247, "String expected in table argument \"%s\"!"},
    {1250, "%s is not a directory!"},
    {1251, "Text format tag after square bracket not recognized!"},
    {1252, "Syntax error in text format specification!"},
    {1253, "Not enough arguments to this text format tag!"},
    {1255, "This font type does not support anti-aliased output!"},
    {1259, "Callback function was expected to return a string!"},
    {1266, "Unknown executable type specified!"},
    {1271, "This function cannot be used with layers enabled!"},
    {1275, "Port \"%s\" could not be found!"},
    {1285, "Invalid date format specification!"},
    {1286, "Error locking %s!"},
    {1298, "Error allocating semaphore object!"},
    {1306, "A zlib IO error occurred!"},
    {1307, "A zlib stream error occurred!"},
    {1308, "Invalid zlib version detected!"},
    {1309, "Invalid or incomplete deflate data (zlib)!"},
    {1310, "Unknown compression format!"},
    {1312, "Autoscale cannot be used together with DisplayDesktop!"},
    {1313, "Layers cannot be disabled when the layer scaling engine is used!"},
    {1314, "Cannot modify object while it is locked!"},
    {1316, "Scripts using DisplayDesktop cannot be recorded!"},
    {1317, "This command cannot be used while in video recording mode!"},
    {1318, "Could not find directory handle %ld!"},
    {1323, "Invalid Base64 encoding!"},
    {1324, "Specified function is not a user function!"},
    {1325, "Sprite is not on screen!"},
    {1329, "Cannot switch layer mode while async draw is active!"},
    {1334, "Could not find font %ld!"},
    {1335, "Font specification must not be a file!"},
    {1337, "You cannot use coordinate constants here!"},
    {1338, "This function cannot be used with disk-based animations!"},
    {1339, "This command cannot be used when SelectAnim() is active!"},
    {1344, "Could not find display %ld!"},
    {1345, "Cannot use the a single BGPic for multiple displays!"},
    {1346, "Cannot free the active display!"},
    {1347, "Cannot use this function while display is closed!"},
    {1350, "Cannot switch display mode because of different color resolution!"},
    {1351, "Cannot use multiple displays while in video recording mode!"},
    {1352, "Cannot use transparent displays while in video recording mode!"},
    {1360, "Error adding app window to Workbench!"},
    {1362, "Invalid order function for sorting!"},
    {1366, "Cannot change size of a BGPic that is selected into a display!"},
    {1367, "You need to select the BGPic's display before modifying the BGPic!"},
    {1369, "Cannot find layer \"%s\" in current BGPic!"},
    {1370, "Invalid insert position specified!"},
    {1372, "Cannot remove layer while it is used by an async draw object!"},
    {1373, "Specified name is too long!"},
    {1377, "Cannot modify the graphics of a BGPic associated with a display!"},
    {1378, "Attempt to modify the BGPic currently selected as output device!"},
    {1380, "Cannot free display before associated async draw objects have been freed!"},
    {1383, "Cannot trim brush because it is fully transparent!"},
    {1386, "Error initializing freetype2!"},
    {1388, "This operation is not supported by the specified brush type!"},
    {1389,
     "Cannot insert a transformed vector brush as a layer!\nUse draw tags instead of transforming "
     "the brush directly!"},
    {1390, "This operation is not supported by the specified BGPic type!"},
    {1391, "Cannot convert a transformed vector brush into a BGPic!"},
    {1392, "Cannot convert a transformed vector BGPic into a brush!"},
    {1393, "Could not find path %ld!"},
    {1394, "Cannot draw empty path!"},
    {1395, "You must use the inbuilt font engine for vector text!"},
    {1396, "Error setting up vector font!"},
    {1400, "This plugin requires at least Quorvella %s!"},
    {1402, "Plugin is incompatible with current platform! (%s)"},
    {1404, "Cannot render layer because it is attached to async draw object!"},
    {1443, "No display modes found!"},
    {1444, "Filter \"%s\" not recognized!"},
    {1445, "Missing filter name in table field %s!"},
    {1446, "Subtable expected in table \"%s\"!"},
    {1448, "Table does not contain enough pixels for specified size!"},
    {1455, "This functionality is not available while videos are attached to the display!"},
    {1460, "This functionality requires a vectorgraphics plugin to be installed!"},
    {1461, "Invalid capture index!"},
    {1462, "Invalid pattern capture!"},
    {1463, "Malformed pattern! (ends with \"%%\")"},
    {1464, "Malformed pattern! (missing \"]\")"},
    {1465, "Unbalanced pattern!"},
    {1466, "Too many captures!"},
    {1467, "Missing \"[\" after \"%%f\" in pattern!"},
    {1468, "Unfinished capture!"},
    {1469, "Error transforming image!"},
    {1470, "Error drawing path!"},
    {1481, "Filter patterns can only be used on directories!"},
    {1483, "Plugin type not recognized! (%s)"},
    {1492, "Userdata expected in argument %ld!"},
    {1494, "This program requires %s!"},
    {1496, "Data item \"%s\" not found in specified object!"},
    {1497, "Hardware brushes cannot be used here!"},
    {1498, "This functionality is currently not supported for hardware brushes!"},
};

class Messages : public RuntimeTest {};

TEST_F(Messages, QuotedTextsAreExact) {
    for (const Quoted& q : kQuoted) {
        uint32_t number = q.number;
        if (number >= 1000) {
            ASSERT_LT(number - 1000, qvErrorMessageMap.size());
            number = qvErrorMessageMap[number - 1000];
        }
        ASSERT_LT(number, qvMessageTable.size()) << q.number;
        EXPECT_EQ(qvMessageTable[number].number, number);
        ASSERT_NE(qvMessageTable[number].text, nullptr) << q.number;
        EXPECT_STREQ(qvMessageTable[number].text, q.text) << q.number;
    }
}

TEST_F(Messages, EveryCodeFormatsToAText) {
    SetErrorString("argument");
    for (int code = 1000; code <= 1498; ++code) EXPECT_NE(ErrorText(code), "") << code;
    EXPECT_EQ(ErrorText(ERR_MEM), "Out of memory!");
    EXPECT_EQ(qvErrorMessageMap[ERR_MEM - 1000], 13u);
    EXPECT_EQ(qvErrorMessageMap[ERR_LOADPLUGIN - 1000], 614u);
}

TEST_F(Messages, CodesWithoutTextAreUnknown) {
    for (int code : {1249, 1265, 1406, 1407, 1408, 999, 0, 1600}) {
        EXPECT_EQ(ErrorText(code), "Unknown error code!") << code;
    }
}

TEST_F(Messages, ConstantsCoverEveryNamedCode) {
    int rows = 0;
    for (const qvConstant* c = qvErrorConstants; c->name != nullptr; ++c, ++rows) {
        EXPECT_EQ(c->string, nullptr);
    }
    EXPECT_EQ(rows, 1 + 499 - 4);  // ERR_NONE, and no constant for 1249 and 1406-1408
    EXPECT_STREQ(qvErrorConstants[0].name, "ERR_NONE");
    EXPECT_STREQ(qvErrorConstants[1].name, "ERR_MEM");
    EXPECT_EQ(qvErrorConstants[1].value, 1000);
    EXPECT_STREQ(qvErrorConstants[rows - 1].name, "ERR_HWBRUSHFUNC");
    EXPECT_EQ(qvErrorConstants[rows - 1].value, 1498);
}

TEST_F(Messages, RegisteredTextsFollowTheBuiltInCodes) {
    EXPECT_EQ(RegisterErrorText("My own error"), 1499);
    EXPECT_EQ(RegisterErrorText("Another one"), 1500);
    EXPECT_EQ(ErrorText(1499), "My own error");
    EXPECT_EQ(ErrorText(1500), "Another one");
    EXPECT_EQ(ErrorText(1501), "Unknown error code!");
    qv::ResetRuntimeState();
    EXPECT_EQ(RegisterErrorText("After a reset"), 1499);
}

TEST_F(Messages, RegisteringWithoutMemoryFails) {
    {
        qv::AllocationFault fault(1, false);
        EXPECT_EQ(RegisterErrorText("text"), ERR_MEM);
    }
    EXPECT_EQ(RegisterErrorText("text"), 1499);
}

}  // namespace
