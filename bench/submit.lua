-- wrk script: valid score submissions with varying names and scores.
counter = 0
request = function()
  counter = counter + 1
  local a = (counter * 7919) % 100000
  local b = (counter * 104729) % 100000
  local c = (counter * 1299709) % 100000
  local d = counter % 100000
  local check = 2 * a + 3 * b + 5 * c + 4 * d
  local name = "Player%20" .. tostring(counter % 5000)
  return wrk.format("GET", "/zm2.asp?" .. a .. "&" .. b .. "&" .. c .. "&" .. d .. "&" .. name .. "&" .. check)
end
