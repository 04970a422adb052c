<?php
// A catalogue peer written with PHP's ext/soap in non-WSDL mode, for the interoperability
// tests of our SOAP client. Its answers depend on the search text so that one server can play
// every case: the parameters it received, an odd total, an empty answer, a fault.
function getvideos($start, $limit, $search, $type) {
    switch ($search) {
        case 'nan':
            return array('many', 'A@@@1@@@2@@@d');
        case 'empty':
            return array();
        case 'fault':
            throw new SoapFault('Server', 'The catalogue is closed for the night');
        default:
            return array('1', 'Echo@@@@@@7@@@' . $search . '|' . $start . ',' . $limit . ',' . $type);
    }
}

function checkvideo($links) {
    return in_array('http://fh/known', $links, true);
}

function registervideo($title, $links) {
    return $title . '|' . implode('|', $links);
}

$server = new SoapServer(null, array('uri' => 'urn:tavilon', 'encoding' => 'UTF-8'));
$server->addFunction(array('getvideos', 'checkvideo', 'registervideo'));
$server->handle();
