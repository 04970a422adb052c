-- wrk script: POSTs the SOAP request in the file named by the first argument.
local request_text

function init(args)
   local file = assert(io.open(args[1], "rb"))
   local body = file:read("*a")
   file:close()
   request_text = wrk.format("POST", wrk.path, {
      ["Content-Type"] = "text/xml; charset=utf-8",
      ["SOAPAction"] = "\"http://127.0.0.1:8180/tavilonserver.php/getvideos\"",
   }, body)
end

function request()
   return request_text
end
