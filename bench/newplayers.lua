-- wrk script: new players, random scores from 100,000 distinct names, so that most submissions
-- set a best. Every wrk thread runs this script in a Lua state of its own: each is seeded with
-- its own number and the round given after "--", so that no two threads or rounds repeat one
-- another's submissions (a repeated score sets no best).
local threads = 0
function setup(thread)
  threads = threads + 1
  thread:set("id", threads)
end

function init(args)
  local round = tonumber(args[1]) or 0
  math.randomseed(1000003 * round + 7919 * (id or 0) + 1)
end

request = function()
  local a = math.random(1, 999999)
  local b = math.random(1, 999999)
  local c = math.random(1, 999999)
  local d = math.random(1, 999999)
  local check = 2 * a + 3 * b + 5 * c + 4 * d
  local name = "New%20player%20" .. tostring(math.random(0, 99999))
  return wrk.format("GET", "/zm2.asp?" .. a .. "&" .. b .. "&" .. c .. "&" .. d .. "&" .. name .. "&" .. check)
end
