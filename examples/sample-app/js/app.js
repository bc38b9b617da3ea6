// The web app's own code: shows its version and a clock.
const APP_VERSION = "1.0";

document.getElementById("version").textContent = APP_VERSION;

function tick() {
  document.getElementById("clock").textContent = new Date().toLocaleTimeString();
}
tick();
setInterval(tick, 1000);
