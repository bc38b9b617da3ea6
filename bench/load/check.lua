-- wrk: every request is the same check-device POST, its body read from the file named
-- after "--" on wrk's command line.
function init(args)
  local file = assert(io.open(args[1], "rb"))
  wrk.method = "POST"
  wrk.body = file:read("*a")
  wrk.headers["Content-Type"] = "application/json; charset=utf-8"
  file:close()
end
