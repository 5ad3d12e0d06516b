#include "expectedlayouts.h"

#include <cstring>

const std::vector<ExpectedControl> kMemoryLayout = {
    {"Frame1", {24, 8, 145, 41}, 0, false},       {"optCom(0)", {16, 16, 57, 17}, 0, false},
    {"optCom(1)", {80, 16, 57, 17}, 0, false},    {"Label3", {176, 8, 81, 25}, 10.5, false},
    {"Text6", {176, 34, 89, 31}, 14.25, true},    {"Label4", {304, 8, 57, 25}, 10.5, false},
    {"Text4", {304, 34, 89, 31}, 14.25, true},    {"Label1(0)", {24, 88, 145, 17}, 12, false},
    {"Text1", {176, 80, 169, 33}, 18, true},      {"Command3", {352, 80, 41, 33}, 0, false},
    {"Label2(0)", {24, 136, 113, 17}, 12, false}, {"Text2", {176, 136, 169, 25}, 14.25, true},
    {"Command1", {352, 136, 41, 25}, 0, false},   {"Label2(1)", {24, 184, 153, 17}, 12, false},
    {"Text3", {176, 176, 169, 27}, 14.25, true},  {"Command4", {352, 176, 41, 25}, 0, false},
    {"Label2(2)", {24, 224, 145, 17}, 12, false}, {"Text5", {176, 224, 169, 27}, 14.25, true},
    {"Command2", {352, 224, 41, 23}, 0, false},
};

const std::vector<ExpectedControl> kDioLayout = {
    {"Frame1", {24, 8, 145, 41}, 0, false},       {"optCom(0)", {16, 16, 57, 17}, 0, false},
    {"optCom(1)", {80, 16, 57, 17}, 0, false},    {"Label3", {176, 8, 81, 25}, 0, false},
    {"Text6", {176, 40, 89, 25}, 14.25, true},    {"Label4", {288, 8, 57, 25}, 0, false},
    {"Text4", {288, 40, 89, 25}, 14.25, true},    {"Label1", {24, 80, 145, 17}, 12, false},
    {"Text1", {176, 72, 201, 33}, 18, true},      {"Label2(0)", {24, 136, 113, 17}, 12, false},
    {"Text2", {176, 128, 169, 25}, 14.25, true},  {"Command1", {352, 128, 41, 25}, 0, false},
    {"Label2(1)", {24, 176, 121, 17}, 12, false}, {"Text3", {176, 168, 169, 27}, 14.25, true},
    {"Command3", {352, 168, 41, 25}, 0, false},   {"Label2(2)", {24, 216, 145, 17}, 12, false},
    {"Text5", {176, 208, 169, 27}, 14.25, true},  {"Command2", {352, 208, 41, 23}, 0, false},
};

const std::vector<ExpectedControl> kOstrelLayout = {
    {"Frame1", {24, 16, 145, 41}, 0, false},      {"optCom(0)", {16, 16, 57, 17}, 0, false},
    {"optCom(1)", {80, 16, 57, 17}, 0, false},    {"Text6", {184, 40, 81, 25}, 14.25, true},
    {"Text4", {288, 40, 89, 25}, 14.25, true},    {"Label1", {56, 88, 113, 17}, 12, false},
    {"Text1", {176, 72, 201, 33}, 18, true},      {"Label2(0)", {32, 136, 113, 17}, 12, false},
    {"Text2", {176, 128, 169, 25}, 14.25, true},  {"Command1", {352, 128, 41, 25}, 0, false},
    {"Label2(1)", {32, 176, 121, 17}, 12, false}, {"Text3", {176, 168, 169, 27}, 14.25, true},
    {"Command2", {352, 168, 41, 31}, 0, false},   {"Label2(2)", {32, 216, 145, 17}, 12, false},
    {"Text5", {176, 208, 169, 27}, 14.25, true},
};

QRect clientRect(const std::vector<ExpectedControl> &layout, const char *name)
{
    for (const ExpectedControl &control : layout) {
        if (std::strcmp(control.name, name) == 0) {
            // Option buttons sit in the group box.
            if (std::strncmp(name, "optCom", 6) == 0)
                return control.geometry.translated(clientRect(layout, "Frame1").topLeft());
            return control.geometry;
        }
    }
    return {};
}

QPoint clickPoint(const std::vector<ExpectedControl> &layout, const char *name)
{
    const QRect rect = clientRect(layout, name);
    if (std::strncmp(name, "optCom", 6) == 0)
        return {rect.left() + 5, rect.center().y()};
    return rect.center();
}
