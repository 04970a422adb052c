<?php
// PHP's ext/soap as a client of tavilon-catalogue, in non-WSDL mode and through the server's
// service description. Prints one JSON object with what came back.
$endpoint = $argv[1];
$client = new SoapClient(null, array('location' => $endpoint, 'uri' => 'urn:tavilon',
                                     'encoding' => 'UTF-8', 'exceptions' => true));
$out = array();
$links = array('password:', 'size:700 MB', 'file:Php.Film.2004.avi', 'quality:DVD Rip',
               'lang:Spanish', 'imdbid:0424242', 'http://fh/php1', 'http://fh/php2');
$out['id'] = $client->__soapCall('registervideo', array(new SoapParam('Café Ñoño', 'title'),
                                                        new SoapParam($links, 'links')));
$out['known'] = $client->__soapCall('checkvideo', array(new SoapParam(
    array('password:', 'http://fh/php2', 'http://fh/php1'), 'links')));
$out['unknown'] = $client->__soapCall('checkvideo', array(new SoapParam(array('http://fh/other'), 'links')));
$out['page'] = $client->__soapCall('getvideos', array(new SoapParam(0, 'start'),
    new SoapParam(18, 'limit'), new SoapParam(' ñoño ', 'search'), new SoapParam(3, 'type')));
try {
    $client->__soapCall('getvideos', array(new SoapParam(0, 'start'), new SoapParam(18, 'limit'),
        new SoapParam('', 'search'), new SoapParam(9, 'type')));
    $out['fault'] = null;
} catch (SoapFault $fault) {
    $out['fault'] = $fault->faultstring;
}
$described = new SoapClient($endpoint . '?wsdl', array('cache_wsdl' => WSDL_CACHE_NONE));
$out['wsdl'] = $described->getvideos(0, 5, '', 0);
echo json_encode($out), "\n";
