#include "bridge/feed/overlay_page.h"

#include <string_view>

namespace taltrix::feed {

namespace {

// The units marker in the page is replaced before it is served.
constexpr std::string_view unitsMarker = "@UNITS@";

constexpr std::string_view page = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Taltrix shot overlay</title>
<style>
  html, body { margin: 0; background: transparent; }
  body {
    font-family: "DejaVu Sans", "Helvetica Neue", Arial, sans-serif;
    color: #fff;
    text-shadow: 0 0 3px #000, 0 2px 6px #000;
  }
  #overlay {
    display: inline-grid;
    grid-template-columns: repeat(7, auto);
    gap: 0 1.6vw;
    padding: 1.2vw 2vw;
    margin: 2vw;
    border-radius: 1vw;
    background: rgba(0, 0, 0, 0.45);
  }
  .value { font-size: 3.4vw; font-weight: 700; line-height: 1.1; font-variant-numeric: tabular-nums; }
  .label { font-size: 1.1vw; text-transform: uppercase; letter-spacing: 0.08em; opacity: 0.85; }
  .unit { font-size: 1.4vw; font-weight: 400; margin-left: 0.2em; }
  #link { position: fixed; right: 1vw; bottom: 1vw; font-size: 1.2vw; opacity: 0.7; }
  #link.live { display: none; }
</style>
</head>
<body data-units="@UNITS@">
<div id="overlay">
  <div><div class="label">Ball speed</div><div class="value"><span id="ball-speed">&ndash;</span><span class="unit" id="speed-unit"></span></div></div>
  <div><div class="label">Launch</div><div class="value"><span id="launch-angle">&ndash;</span><span class="unit">&deg;</span></div></div>
  <div><div class="label">Spin</div><div class="value"><span id="back-spin">&ndash;</span><span class="unit">rpm</span></div></div>
  <div><div class="label">Spin axis</div><div class="value"><span id="spin-axis">&ndash;</span><span class="unit">&deg;</span></div></div>
  <div><div class="label">Club speed</div><div class="value"><span id="club-speed">&ndash;</span><span class="unit" id="club-unit"></span></div></div>
  <div><div class="label">Smash</div><div class="value"><span id="smash-factor">&ndash;</span></div></div>
  <div><div class="label">Club</div><div class="value"><span id="club">&ndash;</span></div></div>
</div>
<div id="link">Waiting for Taltrix&hellip;</div>
<script>
"use strict";
(function () {
  var metric = document.body.dataset.units === "metric";
  var unit = metric ? "km/h" : "mph";
  document.getElementById("speed-unit").textContent = unit;
  document.getElementById("club-unit").textContent = unit;

  function fixed(value, digits) {
    return typeof value === "number" && isFinite(value) ? value.toFixed(digits) : "\u2013";
  }
  function show(id, text) { document.getElementById(id).textContent = text; }

  function showShot(shot) {
    show("ball-speed", fixed(metric ? shot.ball_speed_kmh : shot.ball_speed_mph, 1));
    show("launch-angle", fixed(shot.launch_angle, 1));
    show("back-spin", fixed(shot.back_spin, 0));
    show("spin-axis", fixed(shot.spin_axis, 1));
    show("club-speed", fixed(metric ? shot.club_speed_kmh : shot.club_speed_mph, 1));
    show("smash-factor", fixed(shot.smash_factor, 2));
    show("club", shot.device_club || shot.club_in_play || "\u2013");
  }

  var delay = 500;
  function connect() {
    var link = document.getElementById("link");
    var socket = new WebSocket("ws://" + location.host + "/api/live");
    socket.onopen = function () { delay = 500; link.className = "live"; };
    socket.onmessage = function (event) {
      var message;
      try { message = JSON.parse(event.data); } catch (e) { return; }
      if (message.type === "shot" && message.shot) showShot(message.shot);
    };
    socket.onclose = function () {
      link.className = "";
      // Taltrix restarting, or not there yet: try again, less often the
      // longer it stays away.
      setTimeout(connect, delay);
      delay = Math.min(delay * 2, 5000);
    };
  }
  connect();
})();
</script>
</body>
</html>
)html";

}  // namespace

std::string overlayPage(bool metric) {
    std::string html(page);
    const std::size_t at = html.find(unitsMarker);
    if (at != std::string::npos) html.replace(at, unitsMarker.size(), metric ? "metric" : "imperial");
    return html;
}

}  // namespace taltrix::feed
