#include "bridge/feed/feed_json.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "bridge/history/shot_csv.h"

namespace taltrix::feed {
namespace {

QJsonObject parsed(const std::string& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
    return document.object();
}

TEST(FeedJsonTest, AShotHasTheCsvColumnsAsKeysInOrderWithNumbersAsNumbers) {
    history::ShotEntry e;
    e.timeMs = 1'765'000'000'000;
    e.simulator = "TGC";
    e.clubInPlay = "I7";
    e.shot.club = "7Ir";
    e.shot.ballSpeedMPH = 131.1;
    e.shot.backSpin = 4217;
    e.shot.spinAxis = -1.4;
    e.message = "{\"protocol\":\"HXLAUNCH\"}\r\n";
    e.latencyUs = 61.26;
    std::string header = history::csvHeader();
    header.resize(header.size() - 2);

    for (const std::optional<bool> delivered : {std::optional<bool>(true), std::optional<bool>(false),
                                                std::optional<bool>()}) {
        e.delivered = delivered;
        const std::string json = shotJson(e);
        const QJsonObject shot = parsed(json);
        // Every column, in the order of the CSV header, as a reader of the
        // text sees it.
        std::size_t at = 0;
        for (std::size_t start = 0; start <= header.size();) {
            const std::size_t comma = std::min(header.find(',', start), header.size());
            const std::string key = "\"" + header.substr(start, comma - start) + "\":";
            const std::size_t found = json.find(key, at);
            EXPECT_NE(found, std::string::npos) << key;
            at = found;
            start = comma + 1;
        }
        EXPECT_EQ(shot.size(), std::count(header.begin(), header.end(), ',') + 1);
        EXPECT_EQ(shot["ball_speed_mph"].toDouble(), 131.1);
        EXPECT_EQ(shot["back_spin"].toInt(), 4217);
        EXPECT_EQ(shot["spin_axis"].toDouble(), -1.4);
        EXPECT_EQ(shot["latency_us"].toDouble(), 61.3);
        EXPECT_EQ(shot["device_club"].toString(), "7Ir");
        EXPECT_EQ(shot["message"].toString(), QString::fromStdString(e.message));
        EXPECT_EQ(shot["delivered"].isNull(), !delivered.has_value());
        if (delivered) {
            EXPECT_EQ(shot["delivered"].toBool(), *delivered);
        }
    }
    EXPECT_EQ(parsed(shotMessage(e))["type"].toString(), "shot");
    EXPECT_EQ(parsed(shotsJson({e, e}))["shots"].toArray().size(), 2);
}

TEST(FeedJsonTest, TextsAreEscapedAndBrokenUtf8BecomesReplacementCharacters) {
    const struct {
        std::string_view text;
        std::string_view json;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\r\n\t\x01\x7f", R"("\u000d\u000a\u0009\u0001\u007f")"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8F\x8C", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8F\x8C\""},
        {"\xE9t\xE9", "\"\xEF\xBF\xBDt\xEF\xBF\xBD\""},      // Windows-1252, not UTF-8
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},          // overlong
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
        {"\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},          // cut short
    };
    for (const auto& c : cases) {
        std::string out;
        appendJsonString(out, c.text);
        EXPECT_EQ(out, c.json);
        EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString("[" + out + "]")).isArray()) << out;
    }
}

TEST(FeedJsonTest, StatusAsObjectAndAsMessage) {
    FeedStatus status;
    status.deviceConnected = true;
    status.deviceName = "ES16";
    status.simulatorName = "TGC";
    status.shotsThisSession = 3;
    QJsonObject object = parsed(statusJson(status));
    EXPECT_EQ(object["device"].toObject()["connected"].toBool(), true);
    EXPECT_EQ(object["device"].toObject()["name"].toString(), "ES16");
    EXPECT_EQ(object["simulator"].toObject()["name"].toString(), "TGC");
    EXPECT_EQ(object["simulator"].toObject()["connected"].toBool(), false);
    EXPECT_TRUE(object["club_in_play"].isNull());
    EXPECT_EQ(object["session_started"].toString(), QString::fromStdString(history::localTimeText(0)));
    EXPECT_EQ(object["shots_this_session"].toInt(), 3);
    EXPECT_FALSE(object.contains("type"));

    status.clubInPlay = "DR";
    object = parsed(statusMessage(status));
    EXPECT_EQ(object["type"].toString(), "status");
    EXPECT_EQ(object["club_in_play"].toString(), "DR");
    EXPECT_EQ(parsed(errorJson("no \"such\" thing"))["error"].toString(), "no \"such\" thing");
}

}  // namespace
}  // namespace taltrix::feed
