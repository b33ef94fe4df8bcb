#include "bridge/app/status_board.h"

#include <gtest/gtest.h>

#include "bridge/app/raw_data.h"
#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

using testing::RecordingView;

TEST(StatusBoard, TraceIsNumberedNewestFirst) {
    RecordingView view;
    StatusBoard board(view);
    board.setTraceEnabled(true);
    board.showStatus("Discovery started");
    board.showStatus("Device added to list: ES16");
    EXPECT_EQ(board.traceText(), "2) Device added to list: ES16\r\n1) Discovery started\r\n");
    EXPECT_EQ(view.trace, board.traceText());
    EXPECT_EQ(board.labelText(), "Device added to list: ES16");
    EXPECT_EQ(view.label, "Device added to list: ES16");
    EXPECT_EQ(view.lines, (std::vector<std::string>{"Discovery started", "Device added to list: ES16"}));
}

TEST(StatusBoard, TraceIsCutAtTenThousandCharactersLosingTheOldest) {
    RecordingView view;
    StatusBoard board(view);
    board.setTraceEnabled(true);
    const std::string message(90, 'm');
    for (int i = 0; i < 200; ++i) {
        board.showStatus(message);
    }
    EXPECT_EQ(board.traceText().size(), StatusBoard::traceLimit);
    EXPECT_EQ(board.traceText().rfind("200) " + message + "\r\n199) ", 0), 0u);
    // Lines 200 to 98 fit whole, line 97 only in part, older ones not at all.
    EXPECT_NE(board.traceText().find("\r\n98) "), std::string::npos);
    EXPECT_EQ(board.traceText().substr(board.traceText().size() - 11), "97) mmmmmmm");
    EXPECT_EQ(board.traceText().find("\r\n96) "), std::string::npos);
    EXPECT_EQ(board.traceCounter(), 200u);
}

TEST(StatusBoard, SameMessageTwiceChangesTheLabelOnceAndAddsTwoLines) {
    RecordingView view;
    StatusBoard board(view);
    board.setTraceEnabled(true);
    board.showStatus("Connected to ES16");
    board.showStatus("Connected to ES16");
    EXPECT_EQ(view.labelChanges, 1);
    EXPECT_EQ(board.traceText(), "2) Connected to ES16\r\n1) Connected to ES16\r\n");
    EXPECT_EQ(view.lines.size(), 2u);
}

TEST(StatusBoard, WithoutTraceOnlyTheLabelChanges) {
    RecordingView view;
    StatusBoard board(view);
    board.showStatus("Disconnected");
    EXPECT_EQ(board.traceText(), "");
    EXPECT_EQ(board.traceCounter(), 0u);
    EXPECT_EQ(view.label, "Disconnected");
}

TEST(StatusBoard, LabelOnlyUpdateAddsNoTraceLineAndLeavesTheLatestStatus) {
    RecordingView view;
    StatusBoard board(view);
    board.setTraceEnabled(true);
    board.showStatus("Discovery started");
    board.showLabelOnly("No Ernest Sports devices available");
    EXPECT_EQ(board.labelText(), "No Ernest Sports devices available");
    EXPECT_EQ(board.latestStatus(), "Discovery started");
    EXPECT_EQ(board.traceCounter(), 1u);
    EXPECT_EQ(view.lines.back(), "No Ernest Sports devices available");
    // The next status message replaces the label again.
    board.showStatus("Discovery started");
    EXPECT_EQ(board.labelText(), "Discovery started");
}

TEST(StatusBoard, LatestStatusIsSetWithoutShowingIt) {
    RecordingView view;
    StatusBoard board(view);
    board.setLatestStatus("TGC data received. ");
    EXPECT_EQ(board.latestStatus(), "TGC data received. ");
    EXPECT_EQ(view.labelChanges, 0);
    EXPECT_TRUE(view.lines.empty());
    board.clear();
    EXPECT_EQ(board.latestStatus(), "");
    EXPECT_EQ(view.label, "");
    EXPECT_EQ(view.labelChanges, 1);
}

TEST(RawData, AppendsAndPrependsWithinItsCapacity) {
    RecordingView view;
    RawData box(view);
    EXPECT_FALSE(box.isVisible());
    box.append("\r\nES16Prt...");
    box.prepend("DR\r\n\r\n");
    EXPECT_EQ(view.rawData, "DR\r\n\r\n\r\nES16Prt...");

    box.append(std::string(RawData::capacity, 'a') + "END");
    EXPECT_EQ(box.text().size(), RawData::capacity);
    EXPECT_EQ(box.text().substr(box.text().size() - 3), "END");
    box.prepend("TOP");
    EXPECT_EQ(box.text().size(), RawData::capacity);
    EXPECT_EQ(box.text().substr(0, 3), "TOP");
}

}  // namespace
}  // namespace taltrix::app
