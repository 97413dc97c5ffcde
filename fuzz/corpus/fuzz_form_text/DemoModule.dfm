object DemoModule: TDemoModule
  object Client: TTxClient
    TpTimeOut = 0
    Connected = False
    Authenticate = txakQuor
    UseRouter = False
    ClientName = 'forms-demo'
    UserName = 'jan'
    Passwd = 'tajne'
    QuorAppCode = 'DEMO'
    QuorAppLabel = 'P'#322'atno'#347'ci'
    QuorAppVersion = '1.0'
    QuorLoginFlags = 0
  end
  object Payment: TTxService
    ServiceName = 'PAY'
    SendContract = <
      item
        FieldName = 'CUST_ID'
        OccMin = 1
        OccMax = 1
        TxFldId = 33555433
      end
      item
        FieldName = 'AMOUNT'
        OccMin = 1
        OccMax = 1
        TxFldId = 134218734
      end>
    RecvContract = <
      item
        FieldName = 'CUST_ID'
        TxFldId = 33555433
      end
      item
        FieldName = 'BALANCE'
        TxFldId = 134218731
      end>
    SendData.FBFRContents = {
      01435553545F494400E90300020100000001000000E9030000414D4F554E5400
      EE03000804000000010000000000000000506F402A464255465F454E442A00}
  end
end
