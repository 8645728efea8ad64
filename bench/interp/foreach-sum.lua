local b = {}
for i = 1, 1000000 do b[#b + 1] = i % 1000 end
-- The loop runs five times, so that its time stands well above the start-up's.
local s
for _ = 1, 5 do
  s = 0
  for _, v in ipairs(b) do s = s + v end
end
print(s)
